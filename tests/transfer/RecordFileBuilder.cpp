#include "RecordFileBuilder.h"

#include <cstdio>
#include <cstdlib>
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
