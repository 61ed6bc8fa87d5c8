// The tap's decoder fed in process: every kind of traffic gets its line,
// broken frames and noise included, and the record's fields read as UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "DeviceMessages.h"
#include "FrameTestSupport.h"
#include "LineTrace.h"

namespace {

using Bytes = std::vector<uint8_t>;
const std::string TIME = "2026-01-02T03:04:05.678Z";

Bytes Message(size_t (*build)(uint8_t*))
{
    uint8_t out[FRAME_BUFFER_SIZE];
    return Bytes(out, out + build(out));
}

Bytes RecordMessage()
{
    // "张伟" in CP936, an empty field, a phone; the other fields empty.
    const Bytes data = {0xD5, 0xC5, 0xCE, 0xB0, 0, 0, 0, 0, '1', '3', '8', 0, 0, 0, 0, 0, 0, 0, 0};
    uint8_t out[FRAME_BUFFER_SIZE];
    return Bytes(out, out + BuildRecordRequest(out, RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data()));
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<std::string> Trace(const Bytes& wire, LineDirection direction, bool json = false, bool ending = true)
{
    std::vector<std::string> lines;
    LineTrace trace(json, [&lines](const std::string& line) { lines.push_back(line); });
    // In two reads with a quiet spell between, inside the first frame: the
    // spell shows waiting noise but must not cut the frame.
    const size_t split = wire.size() / 3;
    trace.Feed(direction, wire.data(), split, TIME);
    trace.Flush(direction, TIME, false);
    trace.Feed(direction, wire.data() + split, wire.size() - split, TIME);
    trace.Flush(direction, TIME, ending);
    return lines;
}

std::string SpacedHex(const Bytes& bytes)
{
    std::string out;
    char hex[4];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        out += (out.empty() ? "" : " ") + std::string(hex);
    }
    return out;
}

Bytes CorruptedFcs(Bytes frame)
{
    frame[frame.size() - 2] ^= 0x01;  // the FCS's last byte (none of these need stuffing)
    return frame;
}

TEST(LineTrace, OneLinePerFrameNoiseAndBrokenFrame)
{
    uint8_t reply[FRAME_BUFFER_SIZE];
    const Bytes info = Bytes(reply, reply + BuildInfoReply(reply, 2048, "\xB2\xE2\xCA\xD4"));  // "测试"
    const Bytes taken = Bytes(reply, reply + BuildRecordReply(reply, RECORD_TAKEN));
    const Bytes refused = Bytes(reply, reply + BuildRecordReply(reply, RECORD_REFUSED));
    Bytes wrongLength = taken;
    wrongLength[1] = 2;
    struct Case {
        const char* what;
        Bytes wire;
        LineDirection direction;
        std::vector<std::string> lines;  // each expected line, after the time and direction
    } cases[] = {
        {"probe",
         BuiltFrame(Message([](uint8_t* o) { return BuildProbeRequest(o, PROBE_FILLER_COUNT); })),
         LineDirection::TO_DEVICE,
         {"host>dev 0x02 probe request, message 4003 B, wire 4007 B, FCS ok; filler 4000 B"}},
        {"information reply",
         BuiltFrame(info),
         LineDirection::TO_HOST,
         {"dev>host 0x81 information reply, message 11 B, wire 15 B, FCS ok; free 2048 KB, server type \"测试\""}},
        {"record with fields in UTF-8",
         BuiltFrame(RecordMessage()),
         LineDirection::TO_DEVICE,
         {"host>dev 0x07 record request, message 25 B, wire 29 B, FCS ok; flag 1, data 19 B: name (00) \"张伟\", "
          "fax (13) \"138\""}},
        {"replies back to back, noise between",
         Concat({BuiltFrame(taken), {0x01, 0x02}, BuiltFrame(refused)}),
         LineDirection::TO_HOST,
         {"dev>host 0x87 record reply, message 4 B, wire 8 B, FCS ok; status 1 (taken)",
          "dev>host noise, 2 B outside any frame: 01 02",
          "dev>host 0x87 record reply, message 4 B, wire 8 B, FCS ok; status 0 (refused)"}},
        {"bad FCS, then a good frame",
         Concat({CorruptedFcs(BuiltFrame(taken)), BuiltFrame(taken)}),
         LineDirection::TO_HOST,
         {"dev>host broken frame (FCS bad), wire 8 B, 6 B unstuffed: " + SpacedHex(CorruptedFcs(BuiltFrame(taken))),
          "dev>host 0x87 record reply, message 4 B, wire 8 B, FCS ok; status 1 (taken)"}},
        {"length field that disagrees",
         BuiltFrame(wrongLength),
         LineDirection::TO_HOST,
         {"dev>host 0x87 record reply, message 4 B, wire 8 B, FCS ok; its length field claims a body of 2 B, it "
          "has 1: passed over"}},
        {"noise at the end", {0x55, 0x66}, LineDirection::TO_HOST, {"dev>host noise, 2 B outside any frame: 55 66"}},
        {"frame cut off",
         {0x7E, 0x87, 0x01},
         LineDirection::TO_HOST,
         {"dev>host broken frame (no closing flag), wire 3 B, 2 B unstuffed: 7e 87 01"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = Trace(c.wire, c.direction);
        ASSERT_EQ(lines.size(), c.lines.size()) << c.what << ": " << (lines.empty() ? "" : lines[0]);
        for (size_t k = 0; k < lines.size(); ++k)
            EXPECT_EQ(lines[k], "03:04:05.678 " + c.lines[k]) << c.what;
    }
}

TEST(LineTrace, TooLongFrameIsShownAsSuch)
{
    Bytes wire = {FRAME_FLAG};
    wire.insert(wire.end(), FRAME_BUFFER_SIZE + 10, 0x41);
    wire.push_back(FRAME_FLAG);
    std::vector<std::string> lines = Trace(wire, LineDirection::TO_DEVICE);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("03:04:05.678 host>dev broken frame (too long), wire 4104 B, 4092 B unstuffed: 7e 41", 0),
              0u)
        << lines[0];
}

TEST(LineTrace, JsonCarriesTheSameFacts)
{
    const Bytes wire = Concat({{0x09}, BuiltFrame(RecordMessage())});
    std::vector<std::string> lines = Trace(wire, LineDirection::TO_DEVICE, true);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "{\"time\":\"" + TIME + "\",\"dir\":\"host>dev\",\"kind\":\"noise\",\"bytes\":1,\"hex\":\"09\"}");
    EXPECT_EQ(lines[1], "{\"time\":\"" + TIME +
                            "\",\"dir\":\"host>dev\",\"kind\":\"frame\",\"code\":\"0x07\",\"name\":\"record request\","
                            "\"message\":25,\"wire\":29,\"fcs\":\"ok\",\"whole\":true,\"flag\":1,\"data\":19,"
                            "\"fields\":[\"张伟\",\"\",\"\",\"\",\"138\",\"\",\"\",\"\",\"\",\"\",\"\"]}");
}

}  // namespace
