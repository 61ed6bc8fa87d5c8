#include "DeviceMessages.h"

#include <algorithm>
#include <cstring>

#include "FrameCodec.h"

namespace {

void PutLe16(uint8_t* at, uint16_t value)
{
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>(value >> 8);
}

uint16_t GetLe16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

// Writes the code and length field of a message whose body follows.
size_t PutHeader(uint8_t* out, uint8_t code, size_t bodyLength)
{
    out[0] = code;
    PutLe16(out + MESSAGE_LENGTH_OFFSET, static_cast<uint16_t>(bodyLength));
    return MESSAGE_HEADER_SIZE + bodyLength;
}

}  // namespace

uint16_t MessageBodyLength(const uint8_t* message)
{
    return GetLe16(message + MESSAGE_LENGTH_OFFSET);
}

size_t MessageLength(const uint8_t* message)
{
    return MessageBodyLength(message) + MESSAGE_HEADER_SIZE;
}

uint8_t MessageCode(const uint8_t* message)
{
    return static_cast<uint8_t>(message[0] & MESSAGE_CODE_MASK);
}

size_t BuildInfoRequest(uint8_t* out)
{
    return PutHeader(out, CMD_INFO, 0);
}

size_t BuildProbeRequest(uint8_t* out, uint16_t count)
{
    PutHeader(out, CMD_PROBE, count);
    // The request buffer still holds earlier records' contact data; the
    // filler must never carry it onto the line again.
    size_t zeroed = std::min<size_t>(count, FRAME_BUFFER_SIZE - MESSAGE_HEADER_SIZE);
    std::memset(out + MESSAGE_HEADER_SIZE, 0, zeroed);
    return count + MESSAGE_HEADER_SIZE;
}

size_t BuildRecordRequest(uint8_t* out, uint8_t flag, uint16_t length, const uint8_t* data)
{
    if (length > MAX_RECORD_DATA) return 0;
    PutHeader(out, CMD_RECORD, RECORD_DATA_OFFSET - MESSAGE_HEADER_SIZE + length);
    out[RECORD_FLAG_OFFSET] = flag;
    PutLe16(out + RECORD_LENGTH_OFFSET, length);
    if (length > 0) std::memmove(out + RECORD_DATA_OFFSET, data, length);
    return RECORD_DATA_OFFSET + length;
}

bool IsWholeMessage(const uint8_t* message, size_t length)
{
    return length >= MESSAGE_HEADER_SIZE && MessageLength(message) == length;
}

bool IsAcceptedReply(const uint8_t* payload, size_t length, uint8_t expectedCode)
{
    return IsWholeMessage(payload, length) && payload[0] == expectedCode;
}

InfoReply ReadInfoReply(const uint8_t* reply, size_t length)
{
    InfoReply info;
    if (length >= INFO_FREE_KB_OFFSET + 2) info.freeKb = GetLe16(reply + INFO_FREE_KB_OFFSET);
    if (length > INFO_SERVER_TYPE_OFFSET) {
        const uint8_t* begin = reply + INFO_SERVER_TYPE_OFFSET;
        const uint8_t* end = reply + length;
        const uint8_t* nul = std::find(begin, end, uint8_t{0});
        info.serverType.assign(reinterpret_cast<const char*>(begin), static_cast<size_t>(nul - begin));
    }
    return info;
}

uint8_t ReadRecordStatus(const uint8_t* reply, size_t length)
{
    if (length <= RECORD_STATUS_OFFSET) return RECORD_REFUSED;
    return reply[RECORD_STATUS_OFFSET];
}

uint8_t RequestCode(const uint8_t* request)
{
    return request[0];
}

uint16_t ReadProbeCount(const uint8_t* request)
{
    return MessageBodyLength(request);
}

RecordRequest ReadRecordRequest(const uint8_t* request, size_t length)
{
    RecordRequest record;
    if (length > RECORD_FLAG_OFFSET) record.flag = request[RECORD_FLAG_OFFSET];
    if (length >= RECORD_DATA_OFFSET) {
        record.dataLength = std::min<size_t>(GetLe16(request + RECORD_LENGTH_OFFSET), length - RECORD_DATA_OFFSET);
        record.data = request + RECORD_DATA_OFFSET;
    } else {
        record.data = request + length;
    }
    return record;
}

size_t BuildProbeReply(uint8_t* out)
{
    return PutHeader(out, CMD_PROBE | REPLY_BIT, 0);
}

size_t BuildInfoReply(uint8_t* out, uint16_t freeKb, const std::string& serverType)
{
    const size_t length = INFO_SERVER_TYPE_OFFSET + serverType.size() + 1;
    if (length > MAX_FRAME_PAYLOAD) return 0;
    PutHeader(out, CMD_INFO | REPLY_BIT, length - MESSAGE_HEADER_SIZE);
    out[MESSAGE_HEADER_SIZE] = 0;
    PutLe16(out + INFO_FREE_KB_OFFSET, freeKb);
    std::memcpy(out + INFO_SERVER_TYPE_OFFSET, serverType.data(), serverType.size());
    out[length - 1] = 0;
    return length;
}

size_t BuildRecordReply(uint8_t* out, uint8_t status)
{
    PutHeader(out, CMD_RECORD | REPLY_BIT, RECORD_STATUS_OFFSET + 1 - MESSAGE_HEADER_SIZE);
    out[RECORD_STATUS_OFFSET] = status;
    return RECORD_STATUS_OFFSET + 1;
}

void WriteMessageBodyLength(uint8_t* message, uint16_t bodyLength)
{
    PutLe16(message + MESSAGE_LENGTH_OFFSET, bodyLength);
}
