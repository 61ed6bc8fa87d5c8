#include "VcardImport.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "Cp936Converter.h"
#include "RecordFields.h"
#include "RecordFile.h"
#include "RecordTable.h"
#include "VcardMapping.h"

namespace {

// Debian's python3-vobject is installed for the system's interpreter.
const char DEFAULT_PYTHON[] = "/usr/bin/python3";

// The build puts the reader beside recfile.
const char READER_NAME[] = "vcardentries.py";
// The reader's status when it refused an input; its last line says why.
constexpr int READER_REFUSED = 3;

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
// false unless it ran and exited 0, or READER_REFUSED after printing its refusal. Its output
// lands in `out`. The reader decodes the values, so the options about their
// bytes go to it, and the names of the properties whose values are read.
bool RunReader(const std::vector<std::string>& inputs, bool replace, const std::string& charset, std::string& out,
               bool& refused)
{
    const std::string python = Setting("RECFILE_PYTHON", DEFAULT_PYTHON);
    const std::string script = Setting("RECFILE_VCARD_READER", BesideThisProgram(READER_NAME));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(python.c_str()));
    argv.push_back(const_cast<char*>(script.c_str()));
    char replaceOption[] = "--replace";
    char charsetOption[] = "--charset";
    char valuesOption[] = "--values";
    char lenientOption[] = "--lenient";
    std::string values = MAPPED_PROPERTIES, lenient = LENIENTLY_READ_PROPERTIES;
    argv.insert(argv.end(), {valuesOption, &values[0], lenientOption, &lenient[0]});
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
    refused = WIFEXITED(status) && WEXITSTATUS(status) == READER_REFUSED;
    return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || refused);
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

namespace {

// What the reader handed over, card by card (texts UTF-8).
struct ReaderCard {
    std::string source;
    int line = 0;
    int number = 0;
    std::vector<VcardProperty> props;
};

// "FILE:LINE: card N (NAME), PROPERTY" as every message of recfile puts it.
std::string ReaderPlace(const std::string& source, int line, const ReaderCard* card, const std::string& property)
{
    std::string place = source + (line > 0 ? ":" + std::to_string(line) : "");
    if (card != nullptr) {
        const std::string name = CardName(card->props);
        place += ": card " + std::to_string(card->number) + (name.empty() ? "" : " (" + name + ")");
    }
    return place + (property.empty() ? "" : ", " + property);
}

// Reads the reader's listing; prints its notes and its refusal, if any.
// False when it refused the input or printed something it should not.
bool ReadListing(const std::string& listing, bool expectRefusal, std::vector<ReaderCard>& cards)
{
    std::vector<std::string> messages;
    bool refused = false;
    for (size_t lineStart = 0; lineStart < listing.size();) {
        size_t lineEnd = listing.find('\n', lineStart);
        if (lineEnd == std::string::npos) lineEnd = listing.size();
        const std::string line = listing.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        const std::vector<std::string> f = SplitTabs(line);
        if (f[0] == "card" && f.size() == 4) {
            cards.push_back({f[1], std::atoi(f[2].c_str()), std::atoi(f[3].c_str()), {}});
        } else if (f[0] == "prop" && f.size() >= 6 && !cards.empty()) {
            VcardProperty prop;
            prop.line = std::atoi(f[1].c_str());
            prop.group = f[2];
            prop.name = f[3];
            for (size_t at = 0; at < f[4].size();) {
                size_t comma = f[4].find(',', at);
                if (comma == std::string::npos) comma = f[4].size();
                prop.types.push_back(f[4].substr(at, comma - at));
                at = comma + 1;
            }
            prop.written = f[5];
            prop.read = f.size() > 6;
            prop.values.assign(f.begin() + 6, f.end());
            cards.back().props.push_back(prop);
        } else if (f[0] == "note" && f.size() == 5) {
            const int number = std::atoi(f[3].c_str());
            const ReaderCard* card = !cards.empty() && cards.back().number == number ? &cards.back() : nullptr;
            messages.push_back(ReaderPlace(f[1], std::atoi(f[2].c_str()), card, "") + ": " + f[4]);
        } else if (f[0] == "refusal" && f.size() == 6) {
            const int number = std::atoi(f[3].c_str());
            const ReaderCard* card = number > 0 && !cards.empty() ? &cards.back() : nullptr;
            messages.push_back(ReaderPlace(f[1], std::atoi(f[2].c_str()), card, f[4]) + ": " + f[5]);
            refused = true;
        } else {
            std::fprintf(stderr, "recfile: the vCard reader printed a line it should not: %s\n",
                         line.substr(0, 80).c_str());
            return false;
        }
    }
    for (const std::string& message : messages)
        std::fprintf(stderr, "recfile: %s\n", message.c_str());
    if (refused != expectRefusal) std::fprintf(stderr, "recfile: the vCard reader ended without its refusal\n");
    return !refused && !expectRefusal;
}

}  // namespace

bool MapVcardFiles(const std::vector<std::string>& inputs, bool replace, const std::string& charset, VcardBook& book)
{
    std::string listing;
    std::vector<ReaderCard> cards;
    bool refused = false;
    if (!RunReader(inputs, replace, charset, listing, refused) || !ReadListing(listing, refused, cards)) return false;
    std::map<std::string, int> leftCounts;
    for (const ReaderCard& read : cards) {
        VcardCard card;
        card.source = read.source;
        card.line = read.line;
        card.number = read.number;
        std::vector<std::string> leftOut;
        for (MappedEntry& mapped : MapCard(read.props, leftOut)) {
            // The card's name in messages is the first value of the name's code.
            if (card.name.empty() && std::strcmp(mapped.code, CodeOfField(FIELD_NAME)->code) == 0)
                card.name = mapped.value;
            card.entries.push_back({mapped.code, mapped.label, mapped.value, mapped.property, mapped.line});
        }
        for (const std::string& name : leftOut)
            ++leftCounts[name];
        book.cards.push_back(card);
    }
    book.leftOut.assign(leftCounts.begin(), leftCounts.end());
    return true;
}

bool ReadVcardBook(const std::vector<std::string>& inputs, bool replace, const std::string& charset, VcardBook& book)
{
    Cp936Converter toCp936(Cp936Converter::FROM_UTF8);
    if (!toCp936.Usable()) {
        std::fprintf(stderr, "recfile: no CP936 converter\n");
        return false;
    }
    if (!MapVcardFiles(inputs, replace, charset, book)) return false;

    bool sound = true;
    for (VcardCard& card : book.cards) {
        std::vector<VcardEntry> kept;
        for (VcardEntry& entry : card.entries) {
            std::string missing;
            const std::string utf8 = entry.value;
            if (!ToCp936(toCp936, utf8, replace, entry.value, missing)) {
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
            const size_t fits = FieldTextFit(reinterpret_cast<const uint8_t*>(entry.value.data()), entry.value.size());
            if (fits < entry.value.size())
                std::fprintf(stderr,
                             "recfile: %s: the value has %zu bytes in code page 936, a field holds %zu; the "
                             "transfer sends the first %zu\n",
                             CardPlace(card, entry).c_str(), entry.value.size(), SLOT_TEXT_MAX, fits);
            kept.push_back(entry);
        }
        card.entries = kept;
    }
    return sound;
}
