#include "VcardImport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "Cp936Converter.h"
#include "RecordFile.h"
#include "RecordTable.h"

namespace {

// Debian's python3-vobject is installed for the system's interpreter.
const char DEFAULT_PYTHON[] = "/usr/bin/python3";

// The build puts the reader beside recfile, with the field table it reads.
const char READER_NAME[] = "vcardentries.py";

std::string Setting(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

std::string BesideThisProgram(const char* name)
{
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return name;
    std::string path(self, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/') + 1) + name;
}

// Runs the reader with the inputs, standard input and error passed through;
// false unless it ran and exited 0. Its output lands in `out`. The reader
// decodes the values, so the options about their bytes go to it.
bool RunReader(const std::vector<std::string>& inputs, bool replace, const std::string& charset, std::string& out)
{
    const std::string python = Setting("RECFILE_PYTHON", DEFAULT_PYTHON);
    const std::string script = Setting("RECFILE_VCARD_READER", BesideThisProgram(READER_NAME));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(python.c_str()));
    argv.push_back(const_cast<char*>(script.c_str()));
    char replaceOption[] = "--replace";
    char charsetOption[] = "--charset";
    if (replace) argv.push_back(replaceOption);
    if (!charset.empty()) {
        argv.push_back(charsetOption);
        argv.push_back(const_cast<char*>(charset.c_str()));
    }
    for (const std::string& input : inputs)
        argv.push_back(const_cast<char*>(input.c_str()));
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        std::perror("recfile: pipe");
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("recfile: fork");
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return false;
    }
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execv(python.c_str(), argv.data());
        std::fprintf(stderr, "recfile: cannot run %s: %s\n", python.c_str(), std::strerror(errno));
        _exit(127);
    }
    close(pipeEnds[1]);
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
        if (got > 0)
            out.append(chunk, static_cast<size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            field += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

std::string CodePointName(const std::string& character)
{
    uint32_t value = static_cast<unsigned char>(character[0]);
    if (character.size() > 1) {
        value &= 0x3F >> (character.size() - 1);
        for (size_t i = 1; i < character.size(); ++i)
            value = (value << 6) | (static_cast<unsigned char>(character[i]) & 0x3F);
    }
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(value));
    return name;
}

// Converts character by character, so that the first one code page 936
// lacks can be named; with `replace` each such character becomes "?".
bool ToCp936(Cp936Converter& converter, const std::string& utf8, bool replace, std::string& out, std::string& missing)
{
    out.clear();
    for (size_t at = 0; at < utf8.size();) {
        const size_t width = Utf8CharacterLength(utf8, at);
        const std::string character = utf8.substr(at, width);
        at += width;
        std::string converted;
        if (converter.Convert(character, converted, Cp936Converter::FAIL)) {
            out += converted;
        } else if (replace) {
            out += '?';
        } else {
            missing = character;
            return false;
        }
    }
    return true;
}

}  // namespace

std::string CardPlace(const VcardCard& card, const VcardEntry& entry)
{
    std::string place = card.source + ":" + std::to_string(entry.line) + ": card " + std::to_string(card.number);
    if (!card.name.empty()) place += " (" + card.name + ")";
    return place + ", " + entry.property;
}

bool ReadVcardBook(const std::vector<std::string>& inputs, bool replace, const std::string& charset, VcardBook& book)
{
    Cp936Converter toCp936(Cp936Converter::FROM_UTF8);
    if (!toCp936.Usable()) {
        std::fprintf(stderr, "recfile: no CP936 converter\n");
        return false;
    }
    std::string listing;
    if (!RunReader(inputs, replace, charset, listing)) return false;

    std::vector<std::string> lines;
    for (size_t lineStart = 0; lineStart < listing.size();) {
        size_t lineEnd = listing.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = listing.size();
        lines.push_back(listing.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
    }
    // Each card's name first, so that a message about a property that comes
    // before FN names the card too.
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        const std::vector<std::string> fields = SplitTabs(line);
        if (fields[0] == "card")
            names.emplace_back();
        else if (fields[0] == "entry" && fields.size() == 6 && fields[1] == "00" && !names.empty() &&
                 names.back().empty())
            names.back() = fields[5];
    }

    bool sound = true;
    for (const std::string& line : lines) {
        const std::vector<std::string> fields = SplitTabs(line);

        if (fields[0] == "card" && fields.size() == 4) {
            VcardCard card;
            card.source = fields[1];
            card.line = std::atoi(fields[2].c_str());
            card.number = std::atoi(fields[3].c_str());
            card.name = names[book.cards.size()];
            book.cards.push_back(card);
        } else if (fields[0] == "entry" && fields.size() == 6 && !book.cards.empty()) {
            VcardCard& card = book.cards.back();
            VcardEntry entry;
            entry.code = fields[1];
            entry.property = fields[4];
            entry.line = std::atoi(fields[3].c_str());
            std::string missing;
            // Our own labels always convert; the values are the user's.
            ToCp936(toCp936, fields[2], false, entry.label, missing);
            if (!ToCp936(toCp936, fields[5], replace, entry.value, missing)) {
                std::fprintf(stderr, "recfile: %s: %s \"%s\" is not in code page 936 (--replace writes \"?\")\n",
                             CardPlace(card, entry).c_str(), CodePointName(missing).c_str(), missing.c_str());
                sound = false;
                continue;
            }
            if (entry.value.find('\xFF') != std::string::npos) {
                // The byte ends a text in the record file.
                std::fprintf(stderr, "recfile: %s: the value would hold the byte FF\n", CardPlace(card, entry).c_str());
                sound = false;
                continue;
            }
            const size_t kept = FieldTextFit(reinterpret_cast<const uint8_t*>(entry.value.data()), entry.value.size());
            if (kept < entry.value.size())
                std::fprintf(stderr,
                             "recfile: %s: the value has %zu bytes in code page 936, a field holds %zu; the "
                             "transfer sends the first %zu\n",
                             CardPlace(card, entry).c_str(), entry.value.size(), SLOT_TEXT_MAX, kept);
            card.entries.push_back(entry);
        } else if (fields[0] == "left" && fields.size() == 3) {
            book.leftOut.emplace_back(fields[1], std::atoi(fields[2].c_str()));
        } else {
            std::fprintf(stderr, "recfile: the vCard reader printed a line it should not: %s\n",
                         line.substr(0, 80).c_str());
            return false;
        }
    }
    return sound;
}
