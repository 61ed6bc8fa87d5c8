#include "DeviceSim.h"

#include <cstdio>
#include <vector>

#include "DeviceMessages.h"
#include "FrameCodec.h"
#include "RecordLog.h"

namespace {

constexpr uint8_t RECORD_TAKEN = 1;
constexpr uint8_t RECORD_REFUSED = 0;

std::string CodeText(uint8_t code)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", code);
    return text;
}

}  // namespace

DeviceSim::DeviceSim(const SimOptions& options, std::string serverType, RecordLog* log, SendBytes send, Note note,
                     Pause pause)
    : options_(options),
      serverType_(std::move(serverType)),
      log_(log),
      send_(std::move(send)),
      note_(std::move(note)),
      pause_(std::move(pause))
{
}

bool DeviceSim::Answers(uint8_t code) const
{
    if (options_.silent)
        return false;
    if (options_.stopAfterSet && recordsAnswered_ >= options_.stopAfter)
        return false;
    if (options_.probeOnly && code != CMD_PROBE)
        return false;
    return true;
}

void DeviceSim::OnMessage(const uint8_t* payload, size_t length)
{
    // Same rule as the library applies to replies: the length field must
    // agree with the frame, or the message is passed over.
    if (length < MESSAGE_HEADER_SIZE || MessageLength(payload) != length) {
        note_("ignored a frame of " + std::to_string(length) + " bytes whose length field disagrees");
        return;
    }
    uint8_t code = payload[0];
    note_("request " + CodeText(code) + " received, " + std::to_string(length) + " bytes");

    switch (code) {
    case CMD_PROBE: {
        if (!Answers(code))
            break;
        SendReply(code, nullptr, 0);
        break;
    }
    case CMD_INFO: {
        if (!Answers(code))
            break;
        std::vector<uint8_t> body;
        body.push_back(0);
        body.push_back(static_cast<uint8_t>(options_.freeKb & 0xFF));
        body.push_back(static_cast<uint8_t>(options_.freeKb >> 8));
        body.insert(body.end(), serverType_.begin(), serverType_.end());
        body.push_back(0);
        SendReply(code, body.data(), body.size());
        break;
    }
    case CMD_RECORD: {
        ++recordsReceived_;
        // Body: flag, 16-bit data length, data. A data length that claims
        // more than the message carries is cut to what is there.
        uint8_t flag = length > 3 ? payload[3] : 0;
        size_t dataLength = length >= 6 ? static_cast<size_t>(payload[4] | (payload[5] << 8)) : 0;
        size_t available = length >= 6 ? length - 6 : 0;
        if (dataLength > available)
            dataLength = available;
        const uint8_t* data = payload + 6;

        bool refused = options_.refuseRecords ||
                       (options_.refuseEvery != 0 && recordsReceived_ % options_.refuseEvery == 0);
        uint8_t status = refused ? RECORD_REFUSED : RECORD_TAKEN;
        bool answer = Answers(code);
        if (log_ != nullptr)
            log_->Append(recordsReceived_, flag, data, dataLength, answer ? status : -1);
        if (!answer) {
            note_("record " + std::to_string(recordsReceived_) + " not answered");
            break;
        }
        if (refused)
            note_("fault: record " + std::to_string(recordsReceived_) + " refused");
        ++recordsAnswered_;
        SendReply(code, &status, 1);
        break;
    }
    default:
        note_("unknown request " + CodeText(code) + " ignored");
        break;
    }
}

void DeviceSim::SendReply(uint8_t code, const uint8_t* body, size_t bodyLength)
{
    if (options_.delayMs > 0) {
        note_("fault: reply delayed by " + std::to_string(options_.delayMs) + " ms");
        pause_(options_.delayMs);
    }
    if (options_.staleReply)
        SendStale(code);

    uint8_t message[FRAME_BUFFER_SIZE];
    size_t length = MESSAGE_HEADER_SIZE + bodyLength;
    uint16_t field = static_cast<uint16_t>(bodyLength + (options_.wrongLength ? 1 : 0));
    message[0] = static_cast<uint8_t>(code | REPLY_BIT);
    message[1] = static_cast<uint8_t>(field & 0xFF);
    message[2] = static_cast<uint8_t>(field >> 8);
    for (size_t k = 0; k < bodyLength; ++k)
        message[MESSAGE_HEADER_SIZE + k] = body[k];
    if (options_.wrongLength)
        note_("fault: length field " + std::to_string(field) + " for a body of " + std::to_string(bodyLength));

    ++repliesSent_;
    bool corrupt = options_.corruptFcs != 0 && repliesSent_ == options_.corruptFcs;
    if (corrupt)
        note_("fault: FCS of reply " + std::to_string(repliesSent_) + " corrupted");
    SendMessage(message, length, corrupt);
    note_("reply " + CodeText(message[0]) + " sent, " + std::to_string(length) + " bytes");
}

void DeviceSim::SendStale(uint8_t code)
{
    uint8_t stale[MESSAGE_HEADER_SIZE + 4 + 64];
    size_t length;
    if (code == CMD_RECORD) {
        // An information reply where a record reply is awaited.
        const char type[] = "STALE";
        stale[0] = CMD_INFO | REPLY_BIT;
        stale[3] = 0;
        stale[4] = 0;
        stale[5] = 1;
        for (size_t k = 0; k < sizeof type; ++k)
            stale[6 + k] = static_cast<uint8_t>(type[k]);
        length = 6 + sizeof type;
    } else {
        stale[0] = CMD_RECORD | REPLY_BIT;
        stale[3] = RECORD_TAKEN;
        length = 4;
    }
    stale[1] = static_cast<uint8_t>((length - MESSAGE_HEADER_SIZE) & 0xFF);
    stale[2] = static_cast<uint8_t>((length - MESSAGE_HEADER_SIZE) >> 8);
    note_("fault: stale reply " + CodeText(stale[0]) + " sent first");
    SendMessage(stale, length, false);
}

void DeviceSim::SendMessage(const uint8_t* message, size_t length, bool corrupt)
{
    uint8_t frame[STUFFED_FRAME_SIZE];
    size_t n;
    if (corrupt) {
        uint8_t body[FRAME_BUFFER_SIZE];
        for (size_t k = 0; k < length; ++k)
            body[k] = message[k];
        uint16_t fcs = static_cast<uint16_t>(MakeFcs(message, length) ^ 0x5A5A);
        body[length] = static_cast<uint8_t>(fcs & 0xFF);
        body[length + 1] = static_cast<uint8_t>(fcs >> 8);
        frame[0] = FRAME_FLAG;
        n = EscapeBytes(body, frame + 1, length + 2) + 1;
        frame[n++] = FRAME_FLAG;
    } else {
        n = BuildFrame(message, length, frame);
    }
    if (options_.noise) {
        uint8_t noise[8];
        size_t count = 1 + rng_() % sizeof noise;
        for (size_t k = 0; k < count; ++k) {
            uint8_t b;
            do
                b = static_cast<uint8_t>(rng_());
            while (b == FRAME_FLAG);
            noise[k] = b;
        }
        note_("fault: " + std::to_string(count) + " noise bytes before the frame");
        send_(noise, count);
    }
    send_(frame, n);
}
