// Reading a vCard back in the tests (VcardLines.h).
#include "VcardLines.h"

#include <gtest/gtest.h>

RecordTexts Fields(std::initializer_list<std::pair<size_t, std::string>> set)
{
    RecordTexts fields;
    for (const auto& [index, text] : set)
        fields[index] = text;
    return fields;
}

std::vector<std::string> PhysicalLines(const std::string& card)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = card.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(card.substr(start, end - start));
    EXPECT_EQ(start, card.size()) << "the card does not end with CR LF";
    return lines;
}

std::vector<std::string> ContentLines(const std::string& card)
{
    std::vector<std::string> lines;
    for (const std::string& line : PhysicalLines(card)) {
        if (!line.empty() && line[0] == ' ' && !lines.empty())
            lines.back() += line.substr(1);
        else
            lines.push_back(line);
    }
    return lines;
}

std::string Value(const std::string& card, const std::string& name)
{
    std::string found = "<none>";
    int count = 0;
    for (const std::string& line : ContentLines(card)) {
        if (line.rfind(name + ":", 0) == 0) {
            found = line.substr(name.size() + 1);
            ++count;
        }
    }
    EXPECT_LE(count, 1) << name << " appears more than once";
    return found;
}
