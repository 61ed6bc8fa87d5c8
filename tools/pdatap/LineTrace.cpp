#include "LineTrace.h"

#include <utility>

#include "Cp936Converter.h"
#include "DeviceMessages.h"
#include "RecordFields.h"
#include "RecordFieldsText.h"
#include "RecordLog.h"

namespace {

// A broken frame or noise is shown as hex up to here.
constexpr size_t SHOWN_BYTES = 48;

const char* DirectionName(LineDirection direction)
{
    return direction == LineDirection::TO_DEVICE ? "host>dev" : "dev>host";
}

std::string MessageName(uint8_t code)
{
    std::string name;
    switch (code & MESSAGE_CODE_MASK) {
    case CMD_INFO: name = "information"; break;
    case CMD_PROBE: name = "probe"; break;
    case CMD_RECORD: name = "record"; break;
    default: name = "unknown"; break;
    }
    return name + ((code & REPLY_BIT) != 0 ? " reply" : " request");
}

// The time of day of a UtcTimestamp: what a person reads in a trace.
std::string TimeOfDay(const std::string& timestamp)
{
    size_t t = timestamp.find('T');
    return t == std::string::npos ? timestamp : timestamp.substr(t + 1, timestamp.size() - t - 2);
}

std::string SpacedHex(const std::vector<uint8_t>& bytes)
{
    std::string hex = LowerHex(bytes.data(), std::min(bytes.size(), SHOWN_BYTES));
    std::string out;
    for (size_t k = 0; k < hex.size(); k += 2)
        out += (k == 0 ? "" : " ") + hex.substr(k, 2);
    if (bytes.size() > SHOWN_BYTES) out += " ...";
    return out;
}

std::string Quoted(const std::string& cp936)
{
    return "\"" + JsonEscape(Cp936ToUtf8(cp936)) + "\"";
}

// Text and JSON of one line, built side by side so both say the same.
class TraceLine {
public:
    TraceLine(bool json, const std::string& time, LineDirection direction, const char* kind) : json_(json)
    {
        if (json_)
            out_ = "{\"time\":\"" + time + "\",\"dir\":\"" + DirectionName(direction) + "\",\"kind\":\"" + kind + "\"";
        else
            out_ = TimeOfDay(time) + " " + DirectionName(direction) + " ";
    }
    // `text` goes to the text line as it is; the value to JSON under `key`.
    void Number(const char* key, long value, const std::string& text)
    {
        if (json_)
            out_ += ",\"" + std::string(key) + "\":" + std::to_string(value);
        else
            out_ += text;
    }
    void String(const char* key, const std::string& utf8, const std::string& text)
    {
        if (json_)
            out_ += ",\"" + std::string(key) + "\":\"" + JsonEscape(utf8) + "\"";
        else
            out_ += text;
    }
    void Raw(const char* key, const std::string& jsonValue, const std::string& text)
    {
        if (json_)
            out_ += ",\"" + std::string(key) + "\":" + jsonValue;
        else
            out_ += text;
    }
    std::string Finish() { return json_ ? out_ + "}" : out_; }

private:
    bool json_;
    std::string out_;
};

}  // namespace

LineTrace::LineTrace(bool json, Emit emit) : json_(json), emit_(std::move(emit)) {}

void LineTrace::Feed(LineDirection direction, const uint8_t* data, size_t length, const std::string& time)
{
    SideState& side = Side(direction);
    for (size_t k = 0; k < length; ++k) {
        const uint8_t byte = data[k];
        const FrameReceiver::State before = side.receiver.state();
        const size_t stored = side.receiver.storedBytes();
        size_t payloadLength = sizeof payload_;
        const FrameReceiver::Result result = side.receiver.Feed(byte, payload_, &payloadLength);
        if (before == FrameReceiver::HUNT) {
            if (byte != FRAME_FLAG) {
                if (side.noise.empty()) side.noiseTime = time;
                side.noise.push_back(byte);
                continue;
            }
            ShowNoise(direction, side);
            side.wire.clear();
        }
        side.wire.push_back(byte);
        if (result == FrameReceiver::GOOD) {
            ++side.counts.goodFrames;
            ShowFrame(direction, time, payload_, payloadLength, side.wire.size());
        } else if (result == FrameReceiver::BAD) {
            ++side.counts.badFrames;
            // The receiver keeps no more than its limit and drops the rest.
            ShowBroken(direction, time, stored >= FRAME_BUFFER_SIZE ? "too long" : "FCS bad", side.wire, stored);
        }
        if (result != FrameReceiver::MORE) side.wire.clear();
    }
}

void LineTrace::Flush(LineDirection direction, const std::string& time, bool ending)
{
    SideState& side = Side(direction);
    ShowNoise(direction, side);
    if (ending && side.receiver.state() != FrameReceiver::HUNT && !side.wire.empty()) {
        ++side.counts.badFrames;
        ShowBroken(direction, time, "no closing flag", side.wire, side.receiver.storedBytes());
        side.wire.clear();
        side.receiver.Reset();
    }
}

void LineTrace::ShowNoise(LineDirection direction, SideState& side)
{
    if (side.noise.empty()) return;
    side.counts.noiseBytes += static_cast<uint32_t>(side.noise.size());
    TraceLine line(json_, side.noiseTime, direction, "noise");
    const long count = static_cast<long>(side.noise.size());
    line.Number("bytes", count, "noise, " + std::to_string(count) + " B outside any frame: ");
    line.String("hex", LowerHex(side.noise.data(), side.noise.size()), SpacedHex(side.noise));
    emit_(line.Finish());
    side.noise.clear();
}

void LineTrace::ShowBroken(LineDirection direction, const std::string& time, const char* reason,
                           const std::vector<uint8_t>& wire, size_t stored)
{
    TraceLine line(json_, time, direction, "broken");
    line.String("reason", reason, std::string("broken frame (") + reason + "), ");
    line.Number("wire", static_cast<long>(wire.size()), "wire " + std::to_string(wire.size()) + " B, ");
    line.Number("stored", static_cast<long>(stored), std::to_string(stored) + " B unstuffed: ");
    line.String("hex", LowerHex(wire.data(), wire.size()), SpacedHex(wire));
    emit_(line.Finish());
}

void LineTrace::ShowFrame(LineDirection direction, const std::string& time, const uint8_t* message, size_t length,
                          size_t wireLength)
{
    TraceLine line(json_, time, direction, "frame");
    if (length == 0) {
        line.Number("message", 0, "empty frame, wire " + std::to_string(wireLength) + " B, FCS ok");
        line.Number("wire", static_cast<long>(wireLength), "");
        emit_(line.Finish());
        return;
    }
    const uint8_t code = message[0];
    line.String("code", CodeText(code), CodeText(code) + " ");
    line.String("name", MessageName(code), MessageName(code));
    line.Number("message", static_cast<long>(length), ", message " + std::to_string(length) + " B");
    line.Number("wire", static_cast<long>(wireLength), ", wire " + std::to_string(wireLength) + " B");
    line.String("fcs", "ok", ", FCS ok");
    if (!IsWholeMessage(message, length)) {
        // Both ends pass such a message over; what it carries is not read.
        const long claimed = length >= MESSAGE_HEADER_SIZE ? MessageBodyLength(message) : -1;
        line.Raw("whole", "false",
                 claimed < 0 ? "; shorter than a message header"
                             : "; its length field claims a body of " + std::to_string(claimed) + " B, it has " +
                                   std::to_string(length - MESSAGE_HEADER_SIZE) + ": passed over");
        emit_(line.Finish());
        return;
    }
    line.Raw("whole", "true", "");
    const bool reply = (code & REPLY_BIT) != 0;
    switch (code & MESSAGE_CODE_MASK) {
    case CMD_PROBE:
        if (!reply) {
            const uint16_t filler = ReadProbeCount(message);
            line.Number("filler", filler, "; filler " + std::to_string(filler) + " B");
        }
        break;
    case CMD_INFO:
        if (reply) {
            InfoReply info = ReadInfoReply(message, length);
            line.Number("free_kb", info.freeKb, "; free " + std::to_string(info.freeKb) + " KB");
            line.String("server_type", Cp936ToUtf8(info.serverType), ", server type " + Quoted(info.serverType));
        }
        break;
    case CMD_RECORD:
        if (reply) {
            uint8_t status = ReadRecordStatus(message, length);
            line.Number("status", status,
                        "; status " + std::to_string(status) + (status == RECORD_REFUSED ? " (refused)" : " (taken)"));
        } else {
            RecordRequest record = ReadRecordRequest(message, length);
            line.Number("flag", record.flag, "; flag " + std::to_string(record.flag));
            line.Number("data", static_cast<long>(record.dataLength),
                        ", data " + std::to_string(record.dataLength) + " B");
            const auto fields = SplitRecordPayload(record.data, record.dataLength);
            std::string json = "[";
            std::string text;
            for (size_t k = 0; k < fields.size(); ++k) {
                json += (k == 0 ? "\"" : ",\"") + JsonEscape(Cp936ToUtf8(fields[k])) + "\"";
                if (!fields[k].empty())
                    text +=
                        (text.empty() ? ": " : ", ") + RecordFieldLabel(static_cast<int>(k)) + " " + Quoted(fields[k]);
            }
            line.Raw("fields", json + "]", text);
        }
        break;
    default: break;
    }
    emit_(line.Finish());
}
