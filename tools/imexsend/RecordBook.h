// The records of one record file as the transfer would send them: read
// through the transfer's own record source (the same walk and payloads as
// the DLL), each with its number in the file, and the choice of which to send.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

struct BookRecord {
    int32_t number = 0;  // 1-based, in the file's order
    std::vector<uint8_t> payload;
};

class RecordBook {
public:
    // Reads every record of `path`. IMEX_RESULT_OK, or the result the DLL
    // would give for the file, with `error` saying what is wrong and where.
    int32_t Load(const std::string& path, std::string& error);
    int32_t RecordCount() const { return static_cast<int32_t>(records_.size()); }
    // Keeps only the records numbered in `numbers` (all of them within
    // RecordCount), in the file's order.
    void Keep(const std::set<int32_t>& numbers);

    const std::vector<BookRecord>& records() const { return records_; }
    // Bytes the record requests take on the wire: frames with flags and stuffing.
    uint64_t WireBytes() const;

private:
    std::vector<BookRecord> records_;
};
