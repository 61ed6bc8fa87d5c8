// Device messages: a code byte, a 16-bit little-endian body length and the
// body. Requests carry codes 1, 2 and 7; a reply carries its request's code
// with REPLY_BIT set. Builders write into a FRAME_BUFFER_SIZE buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t CMD_INFO = 0x01;
constexpr uint8_t CMD_PROBE = 0x02;
constexpr uint8_t CMD_RECORD = 0x07;
constexpr uint8_t REPLY_BIT = 0x80;
constexpr uint8_t MESSAGE_CODE_MASK = 0x7F;

constexpr size_t MESSAGE_HEADER_SIZE = 3;
constexpr size_t MAX_RECORD_DATA = 4084;     // record data that keeps the message within one frame
constexpr uint16_t PROBE_FILLER_COUNT = 4000;  // filler bytes of the connection probe
constexpr uint8_t RECORD_FLAG = 1;

constexpr uint32_t INFO_TIMEOUT_MS = 1000;
constexpr uint32_t PROBE_TIMEOUT_MS = 3000;
constexpr uint32_t RECORD_TIMEOUT_MS = 20000;

// Length field (bytes 1-2) of a message.
uint16_t MessageBodyLength(const uint8_t* message);
// Whole message length: the length field plus the header.
size_t MessageLength(const uint8_t* message);
// The request code a message belongs to (byte 0 without REPLY_BIT).
uint8_t MessageCode(const uint8_t* message);

// 01 00 00. Returns the message length.
size_t BuildInfoRequest(uint8_t* out);
// 02, count, then `count` zero filler bytes (zeroed only as far as the
// buffer of FRAME_BUFFER_SIZE reaches). Returns count + 3.
size_t BuildProbeRequest(uint8_t* out, uint16_t count);
// 07, length + 3, flag, length, data. Returns length + 6, or 0 without
// writing anything when `length` exceeds MAX_RECORD_DATA.
size_t BuildRecordRequest(uint8_t* out, uint8_t flag, uint16_t length, const uint8_t* data);

// A received frame payload is the expected reply when its length equals
// its length field plus 3 and its code byte is `expectedCode`.
bool IsAcceptedReply(const uint8_t* payload, size_t length, uint8_t expectedCode);

struct InfoReply {
    uint16_t freeKb = 0;     // free space of the device's storage, in KB
    std::string serverType;  // bytes up to the first NUL or the end of the reply
};
// Reads an accepted information reply of `length` bytes. Fields that a short
// reply does not carry read as zero or empty.
InfoReply ReadInfoReply(const uint8_t* reply, size_t length);
// Status byte of an accepted record reply: 0 when the device refused the
// record. A reply without a status byte counts as refused.
uint8_t ReadRecordStatus(const uint8_t* reply, size_t length);
