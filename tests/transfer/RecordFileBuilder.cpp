#include "RecordFileBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <unistd.h>

std::string LittleEndian32(int32_t value)
{
    uint32_t bits = static_cast<uint32_t>(value);
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    return out;
}

std::string EncodeEntries(const std::vector<TestEntry>& entries)
{
    std::string out;
    for (const TestEntry& entry : entries)
        out += entry.fieldCode + '\xFF' + entry.label + '\xFF' + entry.value + '\xFF';
    return out;
}

RecordFileBuilder& RecordFileBuilder::Junk(const std::string& junk)
{
    bytes += junk;
    return *this;
}

RecordFileBuilder& RecordFileBuilder::Block(const std::vector<TestEntry>& entries)
{
    std::string body = EncodeEntries(entries);
    return RawBlock(static_cast<int32_t>(body.size() + 5), static_cast<int32_t>(entries.size()), body);
}

RecordFileBuilder& RecordFileBuilder::RawBlock(int32_t bodyLength, int32_t entryCount, const std::string& body,
                                               bool withEndMark)
{
    bytes += std::string("\xAA\xBB\x55\x44", 4);
    bytes += LittleEndian32(bodyLength);
    bytes += std::string(4, '\0');
    bytes += '\0';
    bytes += LittleEndian32(entryCount);
    bytes += '\0';
    bytes += body;
    if (withEndMark) bytes += std::string("\x44\x55\xBB\xAA", 4);
    ++blocks;
    return *this;
}

std::string RecordFileBuilder::Finish(int32_t blockCount) const
{
    return bytes + LittleEndian32(blockCount) + std::string("\xFF\xAA\xFF\xBB", 4);
}

TempFile::TempFile(const std::string& contents)
{
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr ? dir : "/tmp") + "/recfileXXXXXX";
    int fd = ::mkstemp(&pattern[0]);
    if (fd < 0) std::abort();
    if (::write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size())) std::abort();
    ::close(fd);
    path = pattern;
}

TempFile::~TempFile()
{
    std::remove(path.c_str());
}

namespace {

std::string RandomText(std::mt19937& random, size_t maxLength)
{
    std::string text;
    const size_t want = std::uniform_int_distribution<size_t>(0, maxLength)(random);
    while (text.size() < want) {
        switch (std::uniform_int_distribution<int>(0, 11)(random)) {
        case 0: text += "\xD5\xC5"; break;  // a CP936 character
        case 1: text += "@."; break;
        case 2: text += "\r"; break;
        case 3:
        case 4: text += static_cast<char>(std::uniform_int_distribution<int>(0, 0xFE)(random)); break;
        default: text += static_cast<char>('a' + std::uniform_int_distribution<int>(0, 4)(random));
        }
    }
    return text;
}

// Junk may hold pieces of marks, but no whole one.
std::string RandomJunk(std::mt19937& random)
{
    static const std::string PIECES[] = {
        std::string("\xAA", 1),         std::string("\xAA\xBB", 2),         std::string("\xAA\xBB\x55", 3),
        std::string("\xFF\xAA\xFF", 3), std::string("\x44\x55\xBB\xAA", 4), "q",
        std::string("\xFF", 1)};
    std::string junk;
    do {
        junk.clear();
        const int pieces = std::uniform_int_distribution<int>(0, 4)(random);
        for (int p = 0; p < pieces; ++p)
            junk += PIECES[std::uniform_int_distribution<size_t>(0, std::size(PIECES) - 1)(random)];
    } while (junk.find("\xAA\xBB\x55\x44") != std::string::npos || junk.find("\xFF\xAA\xFF\xBB") != std::string::npos);
    // A reader that resumes at the count field reads the end mark again;
    // junk that completes a start mark with its last byte would make it see
    // a block that is not there.
    if (junk.compare(0, 3, std::string("\xBB\x55\x44", 3)) == 0) junk.insert(0, "q");
    return junk;
}

}  // namespace

std::string RandomRecordFile(std::mt19937& random, int32_t* blockCount)
{
    static const char* const CODES[] = {"00", "01", "10", "11", "12", "13", "14", "15", "16",
                                        "50", "51", "60", "61", "80", "99", "0",  ""};
    RecordFileBuilder builder;
    const int32_t blocks = std::uniform_int_distribution<int32_t>(0, 12)(random);
    for (int32_t b = 0; b < blocks; ++b) {
        builder.Junk(RandomJunk(random));
        std::vector<TestEntry> entries;
        const int count = std::uniform_int_distribution<int>(0, 12)(random);
        for (int e = 0; e < count; ++e) {
            const char* code = CODES[std::uniform_int_distribution<size_t>(0, std::size(CODES) - 1)(random)];
            const bool longValue = std::uniform_int_distribution<int>(0, 3)(random) == 0;
            entries.push_back({code, RandomText(random, 20), RandomText(random, longValue ? 300 : 40)});
        }
        builder.Block(entries);
    }
    if (blockCount != nullptr) *blockCount = blocks;
    return builder.Finish();
}
