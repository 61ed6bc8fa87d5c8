#include "DeviceSim.h"

#include "DeviceMessages.h"
#include "FrameCodec.h"
#include "LineFaults.h"
#include "RecordLog.h"

namespace {

// What a stale information reply reports.
constexpr uint16_t STALE_FREE_KB = 256;
const char STALE_SERVER_TYPE[] = "STALE";
// How long after the library has given up on a record a late reply comes.
constexpr uint32_t LATE_REPLY_MARGIN_MS = 1000;

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
    if (options_.silent) return false;
    if (options_.stopAfterSet && recordsAnswered_ >= options_.stopAfter) return false;
    if (options_.probeOnly && code != CMD_PROBE) return false;
    return true;
}

void DeviceSim::OnMessage(const uint8_t* payload, size_t length)
{
    // Same rule as the library applies to replies: the length field must
    // agree with the frame, or the message is passed over.
    if (!IsWholeMessage(payload, length)) {
        note_("ignored a frame of " + std::to_string(length) + " bytes whose length field disagrees");
        return;
    }
    uint8_t code = RequestCode(payload);
    note_("request " + CodeText(code) + " received, " + std::to_string(length) + " bytes");

    uint8_t reply[FRAME_BUFFER_SIZE];
    switch (code) {
    case CMD_PROBE: {
        if (!Answers(code)) break;
        SendReply(reply, BuildProbeReply(reply));
        break;
    }
    case CMD_INFO: {
        if (!Answers(code)) break;
        size_t n = BuildInfoReply(reply, static_cast<uint16_t>(options_.freeKb), serverType_);
        if (n == 0) {
            note_("information reply not sent: the server type does not fit one frame");
            break;
        }
        SendReply(reply, n);
        break;
    }
    case CMD_RECORD: {
        ++recordsReceived_;
        RecordRequest record = ReadRecordRequest(payload, length);
        bool refused =
            options_.refuseRecords || (options_.refuseEvery != 0 && recordsReceived_ % options_.refuseEvery == 0);
        uint8_t status = refused ? RECORD_REFUSED : RECORD_TAKEN;
        bool answer = Answers(code);
        if (log_ != nullptr)
            log_->Append(recordsReceived_, record.flag, record.data, record.dataLength, answer ? status : -1);
        if (!answer) {
            note_("record " + std::to_string(recordsReceived_) + " not answered");
            break;
        }
        if (refused)
            note_("fault: record " + std::to_string(recordsReceived_) + " refused");
        else if (stored_)
            stored_(record.data, record.dataLength);  // stored before the reply says so
        ++recordsAnswered_;
        SendReply(reply, BuildRecordReply(reply, status), recordsReceived_);
        break;
    }
    default: note_("unknown request " + CodeText(code) + " ignored"); break;
    }
}

void DeviceSim::SendReply(uint8_t* message, size_t length, uint32_t record)
{
    bool late = record != 0 && record == options_.lateReply;
    uint32_t delayMs = late ? RECORD_TIMEOUT_MS + LATE_REPLY_MARGIN_MS : options_.delayMs;
    if (delayMs > 0) {
        note_(std::string("fault: ") + (late ? "late " : "") + "reply delayed by " + std::to_string(delayMs) + " ms");
        pause_(delayMs);
    }
    if (options_.staleReply) SendStale(MessageCode(message));

    if (options_.wrongLength) {
        uint16_t field = MisstateBodyLength(message);
        note_("fault: length field " + std::to_string(field) + " for a body of " +
              std::to_string(length - MESSAGE_HEADER_SIZE));
    }

    // A reply's extra copies follow it back to back, in the same write, as
    // on a device's wire: a gap between them would be the simulator's
    // scheduling, not a fault of the device's.
    bool unsolicited = record != 0 && record == options_.unsolicited;
    std::vector<uint8_t> copies;
    if (options_.duplicateReplies || unsolicited) held_ = &copies;

    ++repliesSent_;
    bool corrupt = options_.corruptFcs != 0 && repliesSent_ == options_.corruptFcs;
    if (corrupt) note_("fault: FCS of reply " + std::to_string(repliesSent_) + " corrupted");
    SendMessage(message, length, corrupt);
    note_("reply " + CodeText(message[0]) + " sent, " + std::to_string(length) + " bytes");

    if (options_.duplicateReplies) {
        note_("fault: reply " + CodeText(message[0]) + " sent again");
        SendMessage(message, length, false);
    }
    if (unsolicited) {
        uint8_t extra[FRAME_BUFFER_SIZE];
        note_("fault: unsolicited record reply sent");
        SendMessage(extra, BuildRecordReply(extra, RECORD_TAKEN), false);
    }
    held_ = nullptr;
    if (!copies.empty()) send_(copies.data(), copies.size());
}

void DeviceSim::Send(const uint8_t* data, size_t length)
{
    if (held_ != nullptr)
        held_->insert(held_->end(), data, data + length);
    else
        send_(data, length);
}

void DeviceSim::SendStale(uint8_t code)
{
    uint8_t stale[FRAME_BUFFER_SIZE];
    // An information reply where a record reply is awaited, else a record reply.
    size_t length = code == CMD_RECORD ? BuildInfoReply(stale, STALE_FREE_KB, STALE_SERVER_TYPE)
                                       : BuildRecordReply(stale, RECORD_TAKEN);
    note_("fault: stale reply " + CodeText(stale[0]) + " sent first");
    SendMessage(stale, length, false);
}

void DeviceSim::SendMessage(const uint8_t* message, size_t length, bool corrupt)
{
    uint8_t frame[STUFFED_FRAME_SIZE];
    size_t n = BuildFrame(message, length, frame);
    if (corrupt) n = CorruptFrameFcs(frame, n);
    if (options_.noise) {
        uint8_t noise[MAX_NOISE_BYTES];
        size_t count = MakeNoise(rng_, noise);
        note_("fault: " + std::to_string(count) + " noise bytes before the frame");
        Send(noise, count);
    }
    Send(frame, n);
}
