// Builds record files byte by byte for tests, the fuzzer's seeds and the
// benchmark.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct TestEntry {
    std::string fieldCode;
    std::string label;
    std::string value;
};

class RecordFileBuilder {
public:
    RecordFileBuilder& Junk(const std::string& bytes);
    // A well-formed block of these entries.
    RecordFileBuilder& Block(const std::vector<TestEntry>& entries);
    // A block whose header says what the caller wants: `body` goes between
    // the spare byte after the count and the end mark.
    RecordFileBuilder& RawBlock(int32_t bodyLength, int32_t entryCount, const std::string& body,
                                bool withEndMark = true);
    // Appends the trailer; without an argument the count is the blocks added.
    std::string Finish(int32_t blockCount) const;
    std::string Finish() const { return Finish(blocks); }

private:
    std::string bytes;
    int32_t blocks = 0;
};

// A random well-formed record file, the same for the same generator state:
// up to 12 blocks of up to 12 entries, with the codes the assembly knows and
// some it does not; texts of ASCII, CP936 characters, "@.", CR and any byte
// but FF, values up to 300 bytes; junk between blocks that holds pieces of
// marks but never a whole one. `blockCount` receives the blocks written.
std::string RandomRecordFile(std::mt19937& random, int32_t* blockCount = nullptr);

std::string LittleEndian32(int32_t value);
std::string EncodeEntries(const std::vector<TestEntry>& entries);

// A file in the temporary directory that is removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& contents);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const char* Path() const { return path.c_str(); }

private:
    std::string path;
};
