#include "RecordLog.h"

#include <chrono>
#include <ctime>

#include "Cp936Converter.h"
#include "RecordFields.h"
#include "RecordFieldsText.h"

std::string LowerHex(const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (size_t k = 0; k < length; ++k) {
        out += digits[data[k] >> 4];
        out += digits[data[k] & 0x0F];
    }
    return out;
}

std::string CodeText(uint8_t code)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", code);
    return text;
}

std::string UtcTimestamp()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t secs = system_clock::to_time_t(now);
    long ms = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &secs);
#else
    gmtime_r(&secs, &utc);
#endif
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
    return text;
}

RecordLog::~RecordLog()
{
    if (file_ != nullptr) std::fclose(file_);
}

bool RecordLog::Open(const std::string& path)
{
    // Binary: one "\n" per line on every system, as the readers expect.
    file_ = std::fopen(path.c_str(), "ab");
    return file_ != nullptr;
}

void RecordLog::Append(uint32_t seq, uint8_t flag, const uint8_t* data, size_t length, int status)
{
    if (file_ == nullptr) return;
    std::string line = "{\"seq\":" + std::to_string(seq) + ",\"time\":\"" + UtcTimestamp() +
                       "\",\"flag\":" + std::to_string(flag) + ",\"length\":" + std::to_string(length) +
                       ",\"data\":\"" + LowerHex(data, length) + "\",\"fields\":[";
    const auto fields = SplitRecordPayload(data, length);
    for (size_t k = 0; k < fields.size(); ++k) {
        if (k > 0) line += ',';
        line += '"' + JsonEscape(Cp936ToUtf8(fields[k])) + '"';
    }
    line += "],\"status\":" + (status < 0 ? std::string("null") : std::to_string(status)) + "}\n";
    std::fputs(line.c_str(), file_);
    std::fflush(file_);
}
