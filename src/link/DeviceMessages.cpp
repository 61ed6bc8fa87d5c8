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

constexpr size_t RECORD_HEADER_SIZE = MESSAGE_HEADER_SIZE + 3;  // plus flag and data length

}  // namespace

uint16_t MessageBodyLength(const uint8_t* message)
{
    return GetLe16(message + 1);
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
    out[0] = CMD_INFO;
    PutLe16(out + 1, 0);
    return MESSAGE_HEADER_SIZE;
}

size_t BuildProbeRequest(uint8_t* out, uint16_t count)
{
    out[0] = CMD_PROBE;
    PutLe16(out + 1, count);
    // The request buffer still holds earlier records' contact data; the
    // filler must never carry it onto the line again.
    size_t zeroed = std::min<size_t>(count, FRAME_BUFFER_SIZE - MESSAGE_HEADER_SIZE);
    std::memset(out + MESSAGE_HEADER_SIZE, 0, zeroed);
    return count + MESSAGE_HEADER_SIZE;
}

size_t BuildRecordRequest(uint8_t* out, uint8_t flag, uint16_t length, const uint8_t* data)
{
    if (length > MAX_RECORD_DATA)
        return 0;
    out[0] = CMD_RECORD;
    PutLe16(out + 1, static_cast<uint16_t>(length + 3));
    out[3] = flag;
    PutLe16(out + 4, length);
    if (length > 0)
        std::memmove(out + RECORD_HEADER_SIZE, data, length);
    return length + RECORD_HEADER_SIZE;
}

bool IsAcceptedReply(const uint8_t* payload, size_t length, uint8_t expectedCode)
{
    if (length < MESSAGE_HEADER_SIZE)
        return false;
    return payload[0] == expectedCode && MessageLength(payload) == length;
}

InfoReply ReadInfoReply(const uint8_t* reply, size_t length)
{
    constexpr size_t FREE_KB_OFFSET = 4;
    constexpr size_t SERVER_TYPE_OFFSET = 6;
    InfoReply info;
    if (length >= FREE_KB_OFFSET + 2)
        info.freeKb = GetLe16(reply + FREE_KB_OFFSET);
    if (length > SERVER_TYPE_OFFSET) {
        const uint8_t* begin = reply + SERVER_TYPE_OFFSET;
        const uint8_t* end = reply + length;
        const uint8_t* nul = std::find(begin, end, uint8_t{0});
        info.serverType.assign(reinterpret_cast<const char*>(begin), static_cast<size_t>(nul - begin));
    }
    return info;
}

uint8_t ReadRecordStatus(const uint8_t* reply, size_t length)
{
    constexpr size_t STATUS_OFFSET = 3;
    if (length <= STATUS_OFFSET)
        return 0;
    return reply[STATUS_OFFSET];
}
