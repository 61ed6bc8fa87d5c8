// Lays out a record file from entries whose texts are already in code page
// 936: start mark, body length, entry count, entries, end mark per block,
// then the trailer.
#pragma once

#include <cstdint>
#include <string>

class RecordFileWriter {
public:
    // One entry of the current block; the first entry opens the block.
    void AddEntry(const std::string& code, const std::string& label, const std::string& value);
    // Closes the current block; nothing happens when none is open.
    void EndBlock();
    // A block with no entries.
    void AddEmptyBlock();
    // Bytes written before the next block, or before the trailer at the end.
    void AddJunk(const std::string& bytes);

    // The whole file; the trailer's count is `count` when given, else the
    // number of blocks written.
    std::string Finish(const int32_t* count = nullptr);

private:
    std::string file;
    std::string pendingJunk;
    std::string body;
    int32_t entries = 0;
    int32_t blocks = 0;
    bool inBlock = false;
};
