// The reader's walk done the slow, literal way: one read call per window
// position and per string byte, the block search resuming from the count
// field (counting pass) or from just after the last entry (filling pass).
// The buffered RecordFile must give the same results on files whose entry
// bytes hold no mark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ByteWiseSlot {
    std::string fieldCode;
    std::string label;
    std::string value;
};

struct ByteWiseResult {
    bool complete = false;             // all announced blocks found
    int32_t countedEntries = 0;        // totalEntries after the counting pass
    std::vector<int32_t> entryCounts;  // per block, filling pass
    std::vector<int64_t> positionsAfterEntries;
    std::vector<ByteWiseSlot> slots;  // texts as they land in a slot field
};

ByteWiseResult ReadByteWise(const char* path, int32_t blockCount);
