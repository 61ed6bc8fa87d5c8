#include "ByteWiseReader.h"

#include <cstring>

#include "FileInput.h"
#include "RecordFile.h"

namespace {

class ByteWiseWalk {
public:
    explicit ByteWiseWalk(FileInput& input) : input(input) {}

    bool FindBlockStart()
    {
        uint8_t window[4];
        if (input.ReadAt(position, window, 4) != 4) return false;
        for (;;) {
            if (std::memcmp(window, TRAILER_MAGIC, 4) == 0) return false;
            if (std::memcmp(window, BLOCK_START_MARK, 4) == 0) {
                position += 4;
                return true;
            }
            ++position;
            if (input.ReadAt(position, window, 4) != 4) return false;
        }
    }

    int32_t ReadBlockHeader()
    {
        const int64_t start = position;
        const int32_t bodyLength = Read32(start);
        const int32_t entryCount = Read32(start + 9);
        uint8_t mark[4] = {};
        input.ReadAt(start + 9 + bodyLength, mark, 4);
        position = std::memcmp(mark, BLOCK_END_MARK, 4) == 0 ? start + 9 : start + 9 + bodyLength + 4;
        return entryCount;
    }

    std::string ReadFieldString()
    {
        std::string text;
        uint8_t byte = 0;
        while (input.ReadAt(position++, &byte, 1) == 1 && byte != STRING_TERMINATOR)
            text += static_cast<char>(byte);
        text.resize(FieldTextFit(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        // A field is read up to its first NUL.
        return text.substr(0, text.find('\0'));
    }

    int64_t position = 0;

private:
    int32_t Read32(int64_t at)
    {
        uint8_t bytes[4] = {};
        for (int i = 0; i < 4; ++i)
            input.ReadAt(at + i, &bytes[i], 1);
        return static_cast<int32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
    }

    FileInput& input;
};

}  // namespace

ByteWiseResult ReadByteWise(const char* path, int32_t blockCount)
{
    ByteWiseResult result;
    FileInput input;
    if (!input.Open(path)) return result;
    ByteWiseWalk walk(input);
    for (int32_t block = 0; block < blockCount; ++block) {
        if (!walk.FindBlockStart()) return result;
        result.countedEntries += walk.ReadBlockHeader();
    }
    walk.position = 0;
    for (int32_t block = 0; block < blockCount; ++block) {
        if (!walk.FindBlockStart()) return result;
        int32_t entries = walk.ReadBlockHeader();
        result.entryCounts.push_back(entries);
        walk.position += 5;
        for (int32_t n = 0; n < entries; ++n) {
            ByteWiseSlot slot;
            slot.fieldCode = walk.ReadFieldString();
            slot.label = walk.ReadFieldString();
            slot.value = walk.ReadFieldString();
            result.slots.push_back(slot);
        }
        result.positionsAfterEntries.push_back(walk.position);
    }
    result.complete = true;
    return result;
}
