// recfile: looks into record files and writes them.
//
//   recfile dump FILE            blocks, entries and the record of each block
//   recfile payloads FILE        the payload of each block, as hex
//   recfile build INPUT OUTPUT   a record file from a text description
//   recfile build --vcard [--replace] [--charset NAME] VCF... OUTPUT   a record file from vCards
//   recfile fields               the field codes and the fields they fill, as JSON lines
//   recfile entries [--replace] [--charset NAME] VCF...   what the vCards' values become, as lines
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Cp936Converter.h"
#include "RecordAssembly.h"
#include "RecordFieldsText.h"
#include "RecordFile.h"
#include "RecordFileWriter.h"
#include "RecordSource.h"
#include "RecordTable.h"
#include "VcardImport.h"
#include "WholeFile.h"
#include "imex.h"

namespace {

constexpr int EXIT_USAGE = 64;
constexpr int EXIT_BUILD_FAILED = 1;

const char USAGE[] =
    "usage:\n"
    "  recfile dump FILE           show each block, its entries and its record (CP936 shown as UTF-8)\n"
    "  recfile payloads FILE       one line per block: the record payload's counted bytes in hex;\n"
    "                              a file the transfer would refuse prints one line on stderr and\n"
    "                              exits with the transfer's result (2 or 3)\n"
    "  recfile build INPUT OUTPUT  write a record file from a text description\n"
    "  recfile build --vcard [--replace] [--charset NAME] VCF... OUTPUT\n"
    "                              write a record file from vCard files (- is standard input);\n"
    "                              --replace writes \"?\" for characters code page 936 lacks and\n"
    "                              for bytes that do not decode; --charset NAME reads values that\n"
    "                              declare no CHARSET in NAME (e.g. gbk) instead of UTF-8\n"
    "  recfile fields              one JSON line per field code: its label, how its values are\n"
    "                              kept, and the record field it fills\n"
    "  recfile entries [--replace] [--charset NAME] VCF...\n"
    "                              what build --vcard makes of the cards, in UTF-8: card<TAB>CARD\n"
    "                              per card, then CARD<TAB>CODE<TAB>LABEL<TAB>VALUE per value (\\\\,\n"
    "                              \\t, \\r, \\n inside), for comparing what address books hold\n"
    "\n"
    "build input (UTF-8; texts are written in code page 936):\n"
    "  CODE<TAB>LABEL<TAB>VALUE    one entry of the current block\n"
    "  (blank line)                ends the current block\n"
    "  !empty                      a block with no entries\n"
    "  !junk HEX                   bytes (hex pairs, spaces allowed) written before the next block\n"
    "  !count N                    the block count written in the trailer (default: blocks written)\n"
    "  # ...                       a comment\n";

std::string Printable(const std::string& utf8)
{
    std::string out;
    for (char c : utf8) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            out += escaped;
        } else
            out += c;
    }
    return out;
}

// What the three passes of a transfer see, handed out block by block.
struct BlockView {
    int32_t number;  // 1-based
    int64_t offset;  // of the start mark
    const RecordSlot* entries;
    int32_t entryCount;
    const char* const* fieldTexts;
    const uint8_t* payload;
    int32_t payloadLength;
};

// Reads the file through the transfer's own record source. Gives the
// transfer's result; the blocks are handed out only once the whole file has
// been found sound.
int32_t ReadRecords(const char* path, RecordFile& file, int32_t& blockCount,
                    const std::function<void(const BlockView&)>& onBlock)
{
    RecordTable table;
    RecordSource source(file, table);
    const int32_t loaded = source.Load(path);
    blockCount = source.BlockCount();
    if (loaded != IMEX_RESULT_OK) return loaded;
    RecordView record;
    source.StartRecords();
    while (source.NextRecord(record)) {
        const RecordBlock& block = record.block;
        onBlock(BlockView{block.number, block.offset, block.entries, block.entryCount, record.fieldTexts,
                          record.payload, record.payloadLength});
    }
    if (source.Result() != IMEX_RESULT_OK) return source.Result();
    file.Close();
    return IMEX_RESULT_OK;
}

void ReportProblem(const char* path, const RecordFile& file, int32_t result)
{
    if (result == IMEX_RESULT_NO_MEMORY)
        std::fprintf(stderr, "recfile: %s: the record table cannot be allocated\n", path);
    else
        std::fprintf(stderr, "recfile: %s: %s (byte offset %lld)\n", path, FileProblemText(file.Problem()),
                     static_cast<long long>(file.ProblemOffset()));
}

int Payloads(const char* path)
{
    static RecordFile file;
    int32_t blockCount = 0;
    std::string lines;
    const int32_t result = ReadRecords(path, file, blockCount, [&](const BlockView& block) {
        static const char HEX[] = "0123456789abcdef";
        for (int32_t i = 0; i < block.payloadLength; ++i) {
            lines += HEX[block.payload[i] >> 4];
            lines += HEX[block.payload[i] & 0x0F];
        }
        lines += '\n';
    });
    if (result != IMEX_RESULT_OK) {
        ReportProblem(path, file, result);
        return result;
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    return 0;
}

int Dump(const char* path)
{
    Cp936Converter toUtf8(Cp936Converter::TO_UTF8);
    if (!toUtf8.Usable()) {
        std::fprintf(stderr, "recfile: no CP936 converter\n");
        return EXIT_BUILD_FAILED;
    }
    auto show = [&](const char* text) {
        std::string utf8;
        toUtf8.Convert(text, utf8, Cp936Converter::ESCAPE);
        return "\"" + Printable(utf8) + "\"";
    };
    static RecordFile file;
    int32_t blockCount = 0;
    std::string out;
    const int32_t result = ReadRecords(path, file, blockCount, [&](const BlockView& block) {
        std::ostringstream text;
        text << "block " << block.number << " at offset " << block.offset << ": " << block.entryCount << " entries\n";
        for (int32_t i = 0; i < block.entryCount; ++i) {
            const RecordSlot& slot = block.entries[i];
            text << "  entry " << i + 1 << ": " << show(slot.fieldCode) << " " << show(slot.label) << " "
                 << show(slot.value) << "\n";
        }
        text << "  record (" << block.payloadLength << " bytes counted):\n";
        for (int field = 0; field < RECORD_FIELD_COUNT; ++field)
            text << "    " << field << " " << RecordFieldLabel(field) << ": " << show(block.fieldTexts[field]) << "\n";
        out += text.str();
    });
    if (result != IMEX_RESULT_OK) {
        ReportProblem(path, file, result);
        return result;
    }
    std::printf("%s: %d block(s) announced\n%s", path, blockCount, out.c_str());
    return 0;
}

bool ParseHex(const std::string& text, std::string& bytes)
{
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    if (digits.size() % 2 != 0) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = digits.substr(i, 2);
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0') return false;
        bytes += static_cast<char>(value);
    }
    return true;
}

int Build(const char* inputPath, const char* outputPath)
{
    std::ifstream input(inputPath, std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "recfile: cannot read %s\n", inputPath);
        return EXIT_BUILD_FAILED;
    }
    Cp936Converter toCp936(Cp936Converter::FROM_UTF8);
    if (!toCp936.Usable()) {
        std::fprintf(stderr, "recfile: no CP936 converter\n");
        return EXIT_BUILD_FAILED;
    }
    RecordFileWriter writer;
    bool countGiven = false;
    int32_t count = 0;
    std::string line;
    for (int lineNumber = 1; std::getline(input, line); ++lineNumber) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto fail = [&](const char* why) {
            std::fprintf(stderr, "recfile: %s:%d: %s\n", inputPath, lineNumber, why);
            return EXIT_BUILD_FAILED;
        };
        if (line.empty()) {
            writer.EndBlock();
        } else if (line[0] == '#') {
        } else if (line == "!empty") {
            writer.AddEmptyBlock();
        } else if (line.compare(0, 6, "!junk ") == 0) {
            std::string junk;
            if (!ParseHex(line.substr(6), junk)) return fail("!junk needs hex pairs");
            writer.AddJunk(junk);
        } else if (line.compare(0, 7, "!count ") == 0) {
            char* end = nullptr;
            const long value = std::strtol(line.c_str() + 7, &end, 10);
            if (*end != '\0' || value < INT32_MIN || value > INT32_MAX) return fail("!count needs a 32-bit number");
            count = static_cast<int32_t>(value);
            countGiven = true;
        } else {
            const size_t firstTab = line.find('\t');
            const size_t secondTab = firstTab == std::string::npos ? firstTab : line.find('\t', firstTab + 1);
            if (secondTab == std::string::npos || line.find('\t', secondTab + 1) != std::string::npos)
                return fail("an entry is CODE<TAB>LABEL<TAB>VALUE");
            const std::string parts[3] = {line.substr(0, firstTab), line.substr(firstTab + 1, secondTab - firstTab - 1),
                                          line.substr(secondTab + 1)};
            std::string converted[3];
            for (int k = 0; k < 3; ++k) {
                if (!toCp936.Convert(parts[k], converted[k], Cp936Converter::FAIL))
                    return fail("text that code page 936 cannot hold");
                if (converted[k].find('\xFF') != std::string::npos) return fail("a text may not hold the byte FF");
            }
            writer.AddEntry(converted[0], converted[1], converted[2]);
        }
    }
    if (const int error = ReplaceFileWhole(outputPath, writer.Finish(countGiven ? &count : nullptr))) {
        std::fprintf(stderr, "recfile: cannot write %s: %s\n", outputPath, std::strerror(error));
        return EXIT_BUILD_FAILED;
    }
    return 0;
}

// Reads the written file back through the transfer's own passes and says
// which values of a card the device will not get: the notes have a fixed
// size, and field 8 takes only what passes the e-mail test.
int ReportWhatTheDeviceMisses(const char* outputPath, const VcardBook& book)
{
    static RecordFile file;
    int32_t blockCount = 0;
    int missed = 0;
    const int32_t result = ReadRecords(outputPath, file, blockCount, [&](const BlockView& block) {
        if (block.number < 1 || static_cast<size_t>(block.number) > book.cards.size()) return;
        const VcardCard& card = book.cards[static_cast<size_t>(block.number) - 1];
        const std::string notes = block.fieldTexts[FIELD_NOTES];
        for (const VcardEntry& entry : card.entries) {
            const std::string sent = entry.value.substr(
                0, FieldTextFit(reinterpret_cast<const uint8_t*>(entry.value.data()), entry.value.size()));
            bool arrives = notes.find(":" + sent + "\r\n") != std::string::npos;
            for (int field = 0; field < FIELD_NOTES && !arrives; ++field)
                arrives = sent == block.fieldTexts[field];
            if (arrives) continue;
            ++missed;
            const int code = FindFieldCode(entry.code.c_str());
            const bool mail = code >= 0 && !FieldTakes(FIELD_CODES[code].field, sent.c_str());
            std::fprintf(stderr, "recfile: %s: \"%s\" will not reach the device (%s)\n", CardPlace(card, entry).c_str(),
                         Cp936ToUtf8(sent).c_str(),
                         mail ? "the device's e-mail field refuses it: ASCII, 5 characters or more, one @ with "
                                "text on both sides, no dot at either end or right after the @"
                              : "no room is left in the record's notes");
        }
    });
    if (result != IMEX_RESULT_OK) {
        ReportProblem(outputPath, file, result);
        return -1;
    }
    return missed;
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

int ListVcardEntries(const std::vector<std::string>& inputs, bool replace, const std::string& charset)
{
    VcardBook book;
    if (!MapVcardFiles(inputs, replace, charset, book)) return EXIT_BUILD_FAILED;
    for (const VcardCard& card : book.cards) {
        std::printf("card\t%d\n", card.number);
        for (const VcardEntry& entry : card.entries)
            std::printf("%d\t%s\t%s\t%s\n", card.number, entry.code.c_str(), Cp936ToUtf8(entry.label).c_str(),
                        Escaped(entry.value).c_str());
    }
    return 0;
}

int BuildFromVcards(const std::vector<std::string>& inputs, const char* outputPath, bool replace,
                    const std::string& charset)
{
    VcardBook book;
    if (!ReadVcardBook(inputs, replace, charset, book)) {
        std::fprintf(stderr, "recfile: nothing written\n");
        return EXIT_BUILD_FAILED;
    }
    RecordFileWriter writer;
    size_t entries = 0;
    for (const VcardCard& card : book.cards) {
        if (card.entries.empty()) writer.AddEmptyBlock();
        for (const VcardEntry& entry : card.entries)
            writer.AddEntry(entry.code, entry.label, entry.value);
        writer.EndBlock();
        entries += card.entries.size();
    }
    if (const int error = ReplaceFileWhole(outputPath, writer.Finish())) {
        std::fprintf(stderr, "recfile: cannot write %s: %s\n", outputPath, std::strerror(error));
        return EXIT_BUILD_FAILED;
    }
    const int missed = ReportWhatTheDeviceMisses(outputPath, book);
    std::string leftOut;
    for (const auto& [name, count] : book.leftOut)
        leftOut += (leftOut.empty() ? "" : ", ") + name + " " + std::to_string(count);
    std::printf("recfile: %s: %zu contact(s), %zu entries; left out (no field code): %s\n", outputPath,
                book.cards.size(), entries, leftOut.empty() ? "nothing" : leftOut.c_str());
    if (missed > 0) std::printf("recfile: %d value(s) will not reach the device, named above\n", missed);
    return missed < 0 ? EXIT_BUILD_FAILED : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "dump" && argc == 3) return Dump(argv[2]);
    if (command == "payloads" && argc == 3) return Payloads(argv[2]);
    if (command == "fields" && argc == 2) {
        std::fputs(FieldCodesJson().c_str(), stdout);
        return 0;
    }
    if (command == "build" && argc == 4 && std::strcmp(argv[2], "--vcard") != 0) return Build(argv[2], argv[3]);
    const bool fromVcards = command == "build" && argc > 2 && std::strcmp(argv[2], "--vcard") == 0;
    if (fromVcards || command == "entries") {
        // build takes OUTPUT last; entries has none.
        const int end = fromVcards ? argc - 1 : argc;
        std::vector<std::string> inputs;
        bool replace = false;
        std::string charset;
        for (int k = fromVcards ? 3 : 2; k < end; ++k) {
            if (std::strcmp(argv[k], "--replace") == 0) {
                replace = true;
            } else if (std::strcmp(argv[k], "--charset") == 0) {
                if (k + 1 >= end || argv[k + 1][0] == '\0') {
                    std::fprintf(stderr, "recfile: --charset needs the name of a character set%s\n",
                                 fromVcards ? " before OUTPUT" : "");
                    return EXIT_USAGE;
                }
                charset = argv[++k];
            } else {
                inputs.push_back(argv[k]);
            }
        }
        if (!inputs.empty() && fromVcards) return BuildFromVcards(inputs, argv[argc - 1], replace, charset);
        if (!inputs.empty()) return ListVcardEntries(inputs, replace, charset);
    }
    std::fputs(USAGE, stderr);
    return EXIT_USAGE;
}
