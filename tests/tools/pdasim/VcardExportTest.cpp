// Each record's card text: which field goes to which property, escaping,
// and folding (VcardFileTest.cpp: the file of all cards).
#include "VcardExport.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "VcardLines.h"

namespace {

constexpr size_t MAX_LINE_OCTETS = 75;

// Undoes the backslash escapes; a backslash before anything else is a fault.
std::string Unescape(const std::string& value)
{
    std::string out;
    for (size_t k = 0; k < value.size(); ++k) {
        if (value[k] != '\\') {
            out += value[k];
            continue;
        }
        char next = k + 1 < value.size() ? value[++k] : '\0';
        if (next == 'n' || next == 'N')
            out += '\n';
        else if (next == '\\' || next == ',' || next == ';')
            out += next;
        else
            ADD_FAILURE() << "bad escape \\" << next << " in " << value;
    }
    return out;
}

// Splits at the semicolons that are no escape; each part still escaped.
std::vector<std::string> Components(const std::string& value)
{
    std::vector<std::string> parts(1);
    for (size_t k = 0; k < value.size(); ++k) {
        if (value[k] == '\\' && k + 1 < value.size()) {
            parts.back() += value.substr(k++, 2);
        } else if (value[k] == ';') {
            parts.emplace_back();
        } else {
            parts.back() += value[k];
        }
    }
    return parts;
}

// What a vCard reader gets back: every line end of the device is one newline.
std::string AsRead(std::string text)
{
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '\r') {
            if (k + 1 < text.size() && text[k + 1] == '\n') ++k;
            out += '\n';
        } else {
            out += text[k];
        }
    }
    return out;
}

bool IsWholeUtf8(const std::string& text)
{
    for (size_t k = 0; k < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[k]);
        size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (n == 0 || k + n > text.size()) return false;
        for (size_t j = 1; j < n; ++j) {
            if ((static_cast<unsigned char>(text[k + j]) & 0xC0) != 0x80) return false;
        }
        k += n;
    }
    return true;
}

size_t TrailingBackslashes(const std::string& text)
{
    size_t n = 0;
    while (n < text.size() && text[text.size() - 1 - n] == '\\')
        ++n;
    return n;
}

std::string Repeat(char c, size_t n)
{
    return std::string(n, c);
}

std::string NoteCard(const std::string& notes)
{
    return RecordVcard(Fields({{10, notes}}));
}

// The physical lines of a card's NOTE, its first line to the last continuation.
std::vector<std::string> NoteLines(const std::string& notes)
{
    std::vector<std::string> lines = PhysicalLines(NoteCard(notes));
    std::vector<std::string> note;
    for (const std::string& line : lines) {
        if (line.rfind("NOTE:", 0) == 0 || (!note.empty() && line[0] == ' ')) note.push_back(line);
    }
    EXPECT_EQ(lines.back(), "END:VCARD");
    return note;
}

// ---- fields to properties ---------------------------------------------

TEST(VcardFields, EveryFieldGoesToItsPropertyInOrder)
{
    RecordTexts fields = {"张三",
                          "",
                          "北京某某科技有限公司",
                          "研发部",
                          "010-1",
                          "13800138000",
                          "010-2",
                          "010-3",
                          "zhang.san@example.cn",
                          "北京市海淀区中关村大街1号",
                          "称谓:先生\r\n备注:x\r\n"};
    EXPECT_EQ(RecordVcard(fields),
              "BEGIN:VCARD\r\n"
              "VERSION:3.0\r\n"
              "FN:张三\r\n"
              "N:张三;;;;\r\n"
              "ORG:北京某某科技有限公司;研发部\r\n"
              "TEL;TYPE=FAX:010-1\r\n"
              "TEL;TYPE=CELL:13800138000\r\n"
              "TEL;TYPE=HOME:010-2\r\n"
              "TEL;TYPE=WORK:010-3\r\n"
              "EMAIL;TYPE=INTERNET:zhang.san@example.cn\r\n"
              "ADR:;;北京市海淀区中关村大街1号;;;;\r\n"
              "NOTE:称谓:先生\\n备注:x\\n\r\n"
              "END:VCARD\r\n");
}

TEST(VcardFields, EmptyFieldsWriteNothingButTheRequiredNames)
{
    EXPECT_EQ(RecordVcard(RecordTexts{}), "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:\r\nN:;;;;\r\nEND:VCARD\r\n");
    EXPECT_EQ(RecordVcard(Fields({{0, "Li"}, {7, "123"}})),
              "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Li\r\nN:Li;;;;\r\nTEL;TYPE=WORK:123\r\nEND:VCARD\r\n");
    // The field that is always empty on the device has no property, even when it is not.
    EXPECT_EQ(RecordVcard(Fields({{1, "x"}})), RecordVcard(RecordTexts{}));
}

TEST(VcardFields, OrganizationHasTheDepartmentOnlyWhenThereIsOne)
{
    EXPECT_EQ(Value(RecordVcard(Fields({{2, "公司"}})), "ORG"), "公司");
    EXPECT_EQ(Value(RecordVcard(Fields({{3, "研发部"}})), "ORG"), ";研发部");
    EXPECT_EQ(Value(RecordVcard(Fields({{2, "公司"}, {3, "研发部"}})), "ORG"), "公司;研发部");
    EXPECT_EQ(Value(RecordVcard(Fields({{0, "Li"}})), "ORG"), "<none>");
}

TEST(VcardFields, EachPhoneFieldHasItsOwnType)
{
    const std::pair<size_t, const char*> phones[] = {
        {4, "TEL;TYPE=FAX"}, {5, "TEL;TYPE=CELL"}, {6, "TEL;TYPE=HOME"}, {7, "TEL;TYPE=WORK"}};
    for (const auto& [field, property] : phones) {
        std::string card = RecordVcard(Fields({{field, "555"}}));
        for (const auto& [other, otherProperty] : phones)
            EXPECT_EQ(Value(card, otherProperty), other == field ? "555" : "<none>") << "field " << field;
    }
}

TEST(VcardFields, NotesKeepTheirLinesAsNewlines)
{
    EXPECT_EQ(Value(NoteCard("称谓:先生\r\n备注:x\r\n"), "NOTE"), "称谓:先生\\n备注:x\\n");
    EXPECT_EQ(Value(NoteCard("a\r\n\r\nb"), "NOTE"), "a\\n\\nb") << "an empty line stays";
    EXPECT_EQ(Value(NoteCard("\r\n"), "NOTE"), "\\n") << "a note of one line end is not empty";
}

// ---- escaping ---------------------------------------------------------

TEST(VcardEscaping, EachSpecialCharacterInATextValue)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a\\b", "a\\\\b"}, {"a,b", "a\\,b"},  {"a;b", "a\\;b"},         {"a\r\nb", "a\\nb"},
        {"a\nb", "a\\nb"},  {"a\rb", "a\\nb"}, {"a\r\r\nb", "a\\n\\nb"}, {"a\n\rb", "a\\n\\nb"},
        {"\\n", "\\\\n"},   {"a:b", "a:b"},    {"\\,;", "\\\\\\,\\;"},
    };
    // Every single-text property escapes alike.
    const std::pair<size_t, const char*> properties[] = {
        {0, "FN"},
        {4, "TEL;TYPE=FAX"},
        {5, "TEL;TYPE=CELL"},
        {6, "TEL;TYPE=HOME"},
        {7, "TEL;TYPE=WORK"},
        {8, "EMAIL;TYPE=INTERNET"},
        {10, "NOTE"},
    };
    for (const auto& [text, escaped] : cases) {
        for (const auto& [field, property] : properties)
            EXPECT_EQ(Value(RecordVcard(Fields({{field, text}})), property), escaped) << property;
    }
}

TEST(VcardEscaping, StructuredValuesEscapeInsideTheirComponents)
{
    std::string card = RecordVcard(Fields({{0, "Li; Wei, Jr."}, {2, "A;B"}, {3, "C,D\\"}, {9, "x;y\\"}}));
    EXPECT_EQ(Value(card, "FN"), "Li\\; Wei\\, Jr.");
    EXPECT_EQ(Value(card, "N"), "Li\\; Wei\\, Jr.;;;;");
    EXPECT_EQ(Value(card, "ORG"), "A\\;B;C\\,D\\\\");
    EXPECT_EQ(Value(card, "ADR"), ";;x\\;y\\\\;;;;") << "an escaped backslash before a separator";
    EXPECT_EQ(Components(Value(card, "N")).size(), 5u);
    EXPECT_EQ(Components(Value(card, "ADR")).size(), 7u);
    EXPECT_EQ(Components(Value(card, "ORG")).size(), 2u);
}

// ---- folding ----------------------------------------------------------

TEST(VcardFolding, AtMostSeventyFiveOctetsALine)
{
    // "NOTE:" is 5 octets: 70 more fill the line exactly.
    EXPECT_EQ(NoteLines(Repeat('a', 70)), std::vector<std::string>{"NOTE:" + Repeat('a', 70)});
    std::vector<std::string> lines = NoteLines(Repeat('a', 71));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "NOTE:" + Repeat('a', 70));
    EXPECT_EQ(lines[1], " a");

    // The leading space of a continuation counts toward its 75.
    lines = NoteLines(Repeat('a', 70 + 74 + 3));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], " " + Repeat('a', 74));
    EXPECT_EQ(lines[2], " aaa");
}

TEST(VcardFolding, NeverInsideAUtf8Character)
{
    // 中 is 3 octets: after 69 letters it would take octets 75 to 77.
    std::vector<std::string> lines = NoteLines(Repeat('a', 69) + "中b");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "NOTE:" + Repeat('a', 69));
    EXPECT_EQ(lines[1], " 中b");

    // Ending on octet 75, it stays.
    lines = NoteLines(Repeat('a', 67) + "中b");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "NOTE:" + Repeat('a', 67) + "中");
    EXPECT_EQ(lines[1], " b");

    // Two and four octets straddling the boundary.
    lines = NoteLines(Repeat('a', 69) + "é");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " é");
    lines = NoteLines(Repeat('a', 67) + "😀");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "NOTE:" + Repeat('a', 67));
    EXPECT_EQ(lines[1], " 😀");
}

TEST(VcardFolding, NeverBetweenABackslashAndWhatItEscapes)
{
    const std::pair<std::string, std::string> cases[] = {{",", "\\,"}, {";", "\\;"}, {"\\", "\\\\"}, {"\r\n", "\\n"}};
    for (const auto& [text, escaped] : cases) {
        // The pair would take octets 75 and 76.
        std::vector<std::string> lines = NoteLines(Repeat('a', 69) + text);
        ASSERT_EQ(lines.size(), 2u) << escaped;
        EXPECT_EQ(lines[0], "NOTE:" + Repeat('a', 69)) << escaped;
        EXPECT_EQ(lines[1], " " + escaped);

        // Ending on octet 75, it stays.
        lines = NoteLines(Repeat('a', 68) + text + "b");
        ASSERT_EQ(lines.size(), 2u) << escaped;
        EXPECT_EQ(lines[0], "NOTE:" + Repeat('a', 68) + escaped);
        EXPECT_EQ(lines[1], " b");
    }
}

TEST(VcardFolding, RandomTextsComeBackWholeFromEveryProperty)
{
    const char* const pieces[] = {"a", "7", " ", ":", ",", ";", "\\", "\r\n", "\n", "\r", "é", "中", "\xEF\xBF\xBD",
                                  "😀"};
    std::mt19937 rng(20240131);
    for (int round = 0; round < 300; ++round) {
        RecordTexts fields;
        for (size_t f = 0; f < fields.size(); ++f) {
            if (f == 1) continue;
            size_t count = rng() % 120;
            for (size_t k = 0; k < count; ++k)
                fields[f] += pieces[rng() % std::size(pieces)];
        }
        std::string card = RecordVcard(fields);
        for (const std::string& line : PhysicalLines(card)) {
            ASSERT_LE(line.size(), MAX_LINE_OCTETS) << line;
            ASSERT_TRUE(IsWholeUtf8(line)) << "a character cut by a fold: " << line;
            ASSERT_EQ(TrailingBackslashes(line) % 2, 0u) << "an escape cut by a fold: " << line;
        }
        auto single = [&](const char* property, size_t field) {
            std::string value = Value(card, property);
            if (fields[field].empty())
                EXPECT_EQ(value, "<none>") << property;
            else
                EXPECT_EQ(Unescape(value), AsRead(fields[field])) << property;
        };
        EXPECT_EQ(Unescape(Value(card, "FN")), AsRead(fields[0]));
        std::vector<std::string> name = Components(Value(card, "N"));
        ASSERT_EQ(name.size(), 5u);
        EXPECT_EQ(Unescape(name[0]), AsRead(fields[0]));
        if (!fields[2].empty() || !fields[3].empty()) {
            std::vector<std::string> org = Components(Value(card, "ORG"));
            ASSERT_EQ(org.size(), fields[3].empty() ? 1u : 2u);
            EXPECT_EQ(Unescape(org[0]), AsRead(fields[2]));
            if (org.size() == 2) {
                EXPECT_EQ(Unescape(org[1]), AsRead(fields[3]));
            }
        }
        single("TEL;TYPE=FAX", 4);
        single("TEL;TYPE=CELL", 5);
        single("TEL;TYPE=HOME", 6);
        single("TEL;TYPE=WORK", 7);
        single("EMAIL;TYPE=INTERNET", 8);
        if (!fields[9].empty()) {
            std::vector<std::string> address = Components(Value(card, "ADR"));
            ASSERT_EQ(address.size(), 7u);
            EXPECT_EQ(Unescape(address[2]), AsRead(fields[9]));
        }
        single("NOTE", 10);
        if (HasFailure()) return;
    }
}
}  // namespace
