// Device messages: a code byte, a 16-bit little-endian body length and the
// body. Requests carry codes 1, 2 and 7; a reply carries its request's code
// with REPLY_BIT set. Builders write into a FRAME_BUFFER_SIZE buffer.
// Both sides are here: the library builds requests and reads replies, a
// device (the simulator) reads requests and builds replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "FrameCodec.h"

constexpr uint8_t CMD_INFO = 0x01;
constexpr uint8_t CMD_PROBE = 0x02;
constexpr uint8_t CMD_RECORD = 0x07;
constexpr uint8_t REPLY_BIT = 0x80;
constexpr uint8_t MESSAGE_CODE_MASK = 0x7F;

constexpr size_t MESSAGE_HEADER_SIZE = 3;
constexpr size_t MESSAGE_LENGTH_OFFSET = 1;  // the 16-bit body length
// Record request: flag, 16-bit data length, data.
constexpr size_t RECORD_FLAG_OFFSET = 3;
constexpr size_t RECORD_LENGTH_OFFSET = 4;
constexpr size_t RECORD_DATA_OFFSET = 6;
// Information reply: one byte nobody reads, free space, server type and NUL.
constexpr size_t INFO_FREE_KB_OFFSET = 4;
constexpr size_t INFO_SERVER_TYPE_OFFSET = 6;
// Record reply: one status byte.
constexpr size_t RECORD_STATUS_OFFSET = 3;

// Record data that keeps the message within one frame.
constexpr size_t MAX_RECORD_DATA = MAX_FRAME_PAYLOAD - RECORD_DATA_OFFSET;
constexpr uint16_t PROBE_FILLER_COUNT = 4000;  // filler bytes of the connection probe
constexpr uint8_t RECORD_FLAG = 1;
// Any status but 0 means the device took the record; devices send 1.
constexpr uint8_t RECORD_REFUSED = 0;
constexpr uint8_t RECORD_TAKEN = 1;

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

// True when the message has a header and its length field plus 3 is
// `length`; neither side takes a message that fails this.
bool IsWholeMessage(const uint8_t* message, size_t length);

// A received frame payload is the expected reply when it is a whole
// message and its code byte is `expectedCode`.
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

// The device's side.

// Byte 0 as sent. Unlike MessageCode it keeps REPLY_BIT, so a reply that
// comes back to the device is no request it knows.
uint8_t RequestCode(const uint8_t* request);
// The number of filler bytes a probe request announces.
uint16_t ReadProbeCount(const uint8_t* request);

struct RecordRequest {
    uint8_t flag = 0;
    size_t dataLength = 0;
    const uint8_t* data = nullptr;  // inside the request; never null
};
// Reads a record request of `length` bytes. Fields a short request does not
// carry read as zero; a data length that claims more than the request
// carries is cut to what is there.
RecordRequest ReadRecordRequest(const uint8_t* request, size_t length);

// 82 00 00. Returns the message length.
size_t BuildProbeReply(uint8_t* out);
// 81, length, 0, free space, server type (bytes as given), NUL. Returns the
// message length, or 0 without writing anything when the server type would
// carry the message beyond MAX_FRAME_PAYLOAD.
size_t BuildInfoReply(uint8_t* out, uint16_t freeKb, const std::string& serverType);
// 87 01 00 status. Returns the message length.
size_t BuildRecordReply(uint8_t* out, uint8_t status);
// Overwrites the length field (bytes 1-2) of a built message.
void WriteMessageBodyLength(uint8_t* message, uint16_t bodyLength);
