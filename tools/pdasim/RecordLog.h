// The JSON record log that tests read back, one line per record received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

std::string LowerHex(const uint8_t* data, size_t length);
// A message code as people read it in notes and traces, e.g. 0x87.
std::string CodeText(uint8_t code);
// Now as ISO-8601 UTC with milliseconds, e.g. 2024-01-31T12:00:00.123Z.
std::string UtcTimestamp();

class RecordLog {
public:
    RecordLog() = default;
    ~RecordLog();
    RecordLog(const RecordLog&) = delete;
    RecordLog& operator=(const RecordLog&) = delete;

    bool Open(const std::string& path);
    // One JSON line, flushed at once. `status` < 0 logs null (not answered).
    void Append(uint32_t seq, uint8_t flag, const uint8_t* data, size_t length, int status);

private:
    std::FILE* file_ = nullptr;
};
