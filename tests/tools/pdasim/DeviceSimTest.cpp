// The simulated device in process: what it puts on the line for each
// request, with and without its faults.
#include "DeviceSim.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceMessages.h"
#include "FrameCodec.h"
#include "LineFaults.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Message(size_t (*build)(uint8_t*))
{
    uint8_t out[FRAME_BUFFER_SIZE];
    return Bytes(out, out + build(out));
}

Bytes InfoRequest()
{
    return Message(BuildInfoRequest);
}

Bytes ProbeRequest()
{
    static uint8_t out[FRAME_BUFFER_SIZE];
    return Bytes(out, out + BuildProbeRequest(out, PROBE_FILLER_COUNT));
}

Bytes RecordRequestOf(const Bytes& data)
{
    static uint8_t out[FRAME_BUFFER_SIZE];
    return Bytes(out, out + BuildRecordRequest(out, RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data()));
}

Bytes Frame(const Bytes& message)
{
    static uint8_t frame[STUFFED_FRAME_SIZE];
    return Bytes(frame, frame + BuildFrame(message.data(), message.size(), frame));
}

// A device whose line and notes are kept for inspection.
class Device {
public:
    explicit Device(SimOptions o = {}, std::string serverType = "PDASIM")
        : options(std::move(o)),
          sim(
              options, std::move(serverType), nullptr,
              [this](const uint8_t* data, size_t length) {
                  line.insert(line.end(), data, data + length);
                  ++writes;
              },
              [this](const std::string& text) { notes.push_back(text); }, [this](uint32_t ms) { paused += ms; })
    {
    }

    void Send(const Bytes& request) { sim.OnMessage(request.data(), request.size()); }

    // The frames on the line so far: good payloads, and a marker per bad one.
    std::vector<Bytes> Frames()
    {
        LinkStatistics stats;
        FrameReceiver receiver(stats);
        std::vector<Bytes> frames;
        uint8_t buffer[FRAME_BUFFER_SIZE];
        for (uint8_t b : line) {
            size_t length = sizeof buffer;
            FrameReceiver::Result r = receiver.Feed(b, buffer, &length);
            if (r == FrameReceiver::GOOD)
                frames.emplace_back(buffer, buffer + length);
            else if (r == FrameReceiver::BAD)
                frames.push_back(BAD_FRAME);
        }
        return frames;
    }

    static const Bytes BAD_FRAME;

    SimOptions options;
    Bytes line;
    int writes = 0;
    std::vector<std::string> notes;
    uint32_t paused = 0;
    DeviceSim sim;
};

const Bytes Device::BAD_FRAME = {0xBA, 0xD0};

TEST(DeviceSimReplies, EachRequestGetsItsReplyInOneFrame)
{
    Device device({}, "AB");
    device.options.freeKb = 1024;
    device.Send(ProbeRequest());
    EXPECT_EQ(device.line, Frame({0x82, 0x00, 0x00}));
    device.line.clear();
    device.Send(InfoRequest());
    EXPECT_EQ(device.line, Frame({0x81, 0x06, 0x00, 0x00, 0x00, 0x04, 0x41, 0x42, 0x00}));
    device.line.clear();
    device.Send(RecordRequestOf({0x4C, 0x69, 0x00}));
    EXPECT_EQ(device.line, Frame({0x87, 0x01, 0x00, 0x01}));
    EXPECT_EQ(device.sim.recordsReceived(), 1u);
    EXPECT_EQ(device.sim.repliesSent(), 3u);
}

TEST(DeviceSimReplies, MalformedAndUnknownRequestsGetNothing)
{
    Device device;
    device.Send({0x01, 0x05, 0x00});
    device.Send({0x33, 0x00, 0x00});
    device.Send({0x81, 0x00, 0x00});  // a reply sent back is no information request
    device.Send({0x02});
    EXPECT_TRUE(device.line.empty());
    EXPECT_EQ(device.sim.repliesSent(), 0u);
    EXPECT_EQ(device.notes.back(), "ignored a frame of 1 bytes whose length field disagrees");
    EXPECT_EQ(device.notes[3], "request 0x81 received, 3 bytes");
    EXPECT_EQ(device.notes[4], "unknown request 0x81 ignored");
}

TEST(DeviceSimReplies, RefusedRecordsGetStatusZero)
{
    SimOptions o;
    o.refuseEvery = 2;
    Device device(o);
    for (int k = 0; k < 4; ++k)
        device.Send(RecordRequestOf({0x41, 0x00}));
    std::vector<Bytes> frames = device.Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], (Bytes{0x87, 0x01, 0x00, 0x01}));
    EXPECT_EQ(frames[1], (Bytes{0x87, 0x01, 0x00, 0x00}));
    EXPECT_EQ(frames[3], (Bytes{0x87, 0x01, 0x00, 0x00}));
}

TEST(DeviceSimReplies, ServerTypeTooLongForAFrameSendsNothing)
{
    Device device({}, std::string(MAX_FRAME_PAYLOAD, 'x'));
    device.Send(InfoRequest());
    EXPECT_TRUE(device.line.empty());
    EXPECT_EQ(device.sim.repliesSent(), 0u);
    device.Send(ProbeRequest());
    EXPECT_EQ(device.Frames(), (std::vector<Bytes>{{0x82, 0x00, 0x00}})) << "other requests are still answered";
}

TEST(DeviceSimFaults, CorruptFcsHitsOnlyTheChosenReply)
{
    SimOptions o;
    o.corruptFcs = 2;
    o.staleReply = true;  // stale replies are not counted
    Device device(o);
    device.Send(ProbeRequest());
    device.Send(InfoRequest());
    device.Send(ProbeRequest());
    std::vector<Bytes> frames = device.Frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(frames[1], (Bytes{0x82, 0x00, 0x00}));
    EXPECT_EQ(frames[2], (Bytes{0x87, 0x01, 0x00, 0x01})) << "the stale reply before it is sound";
    EXPECT_EQ(frames[3], Device::BAD_FRAME);
    EXPECT_EQ(frames[5], (Bytes{0x82, 0x00, 0x00}));
}

TEST(DeviceSimFaults, StaleReplyOfTheOtherKindComesFirst)
{
    SimOptions o;
    o.staleReply = true;
    Device device(o);
    device.Send(RecordRequestOf({0x41, 0x00}));
    device.Send(InfoRequest());
    std::vector<Bytes> frames = device.Frames();
    ASSERT_EQ(frames.size(), 4u);
    ASSERT_TRUE(IsAcceptedReply(frames[0].data(), frames[0].size(), CMD_INFO | REPLY_BIT));
    InfoReply stale = ReadInfoReply(frames[0].data(), frames[0].size());
    EXPECT_EQ(stale.serverType, "STALE");
    EXPECT_EQ(stale.freeKb, 256);
    EXPECT_EQ(frames[1], (Bytes{0x87, 0x01, 0x00, 0x01}));
    EXPECT_EQ(frames[2], (Bytes{0x87, 0x01, 0x00, 0x01}));
    EXPECT_EQ(frames[3][0], 0x81);
}

TEST(DeviceSimFaults, WrongLengthWithCorruptFcsAndNoiseInOneReply)
{
    SimOptions o;
    o.wrongLength = true;
    o.corruptFcs = 1;
    o.noise = true;
    Device device(o);
    device.Send(RecordRequestOf({0x41, 0x00}));
    ASSERT_EQ(device.writes, 2) << "noise, then the frame";

    // Noise the device's own seed gives, then the misstated reply with a
    // corrupted FCS.
    std::mt19937 rng(0x5eed);
    uint8_t noise[MAX_NOISE_BYTES];
    size_t count = MakeNoise(rng, noise);
    const Bytes misstated = {0x87, 0x02, 0x00, 0x01};
    uint8_t frame[STUFFED_FRAME_SIZE];
    size_t n = CorruptFrameFcs(frame, BuildFrame(misstated.data(), misstated.size(), frame));
    Bytes want(noise, noise + count);
    want.insert(want.end(), frame, frame + n);
    EXPECT_EQ(device.line, want);
    EXPECT_EQ(device.Frames(), std::vector<Bytes>{Device::BAD_FRAME});

    const std::vector<std::string> notes = {
        "request 0x07 received, 8 bytes",  "fault: length field 2 for a body of 1",
        "fault: FCS of reply 1 corrupted", "fault: " + std::to_string(count) + " noise bytes before the frame",
        "reply 0x87 sent, 4 bytes",
    };
    EXPECT_EQ(device.notes, notes);
}

TEST(DeviceSimFaults, SilenceAndStopAfter)
{
    SimOptions o;
    o.stopAfterSet = true;
    o.stopAfter = 1;
    Device device(o);
    device.Send(RecordRequestOf({0x41, 0x00}));
    device.Send(RecordRequestOf({0x41, 0x00}));
    device.Send(ProbeRequest());
    EXPECT_EQ(device.Frames().size(), 1u);
    EXPECT_EQ(device.sim.recordsReceived(), 2u);

    SimOptions p;
    p.probeOnly = true;
    Device probeOnly(p);
    probeOnly.Send(InfoRequest());
    probeOnly.Send(ProbeRequest());
    EXPECT_EQ(probeOnly.Frames(), (std::vector<Bytes>{{0x82, 0x00, 0x00}}));
}

TEST(DeviceSimFaults, DelayPausesBeforeEveryReply)
{
    SimOptions o;
    o.delayMs = 300;
    Device device(o);
    device.Send(ProbeRequest());
    device.Send(InfoRequest());
    EXPECT_EQ(device.paused, 600u);
    EXPECT_EQ(device.Frames().size(), 2u);
}

TEST(DeviceSimFaults, RepliesThatCanBeTakenForTheNextRecords)
{
    const Bytes taken = {0x87, 0x01, 0x00, 0x01};
    const Bytes refused = {0x87, 0x01, 0x00, 0x00};
    const struct {
        const char* what;
        void (*set)(SimOptions&);
        std::vector<Bytes> frames;  // on the line for records 1 and 2, the second refused
        uint32_t paused;
    } cases[] = {
        {"--duplicate-replies", [](SimOptions& o) { o.duplicateReplies = true; }, {taken, taken, refused, refused}, 0},
        {"--unsolicited 1", [](SimOptions& o) { o.unsolicited = 1; }, {taken, taken, refused}, 0},
        {"--late-reply 1", [](SimOptions& o) { o.lateReply = 1; }, {taken, refused}, RECORD_TIMEOUT_MS + 1000},
    };
    for (const auto& c : cases) {
        SimOptions o;
        o.refuseEvery = 2;
        c.set(o);
        Device device(o);
        device.Send(RecordRequestOf({0x41, 0x00}));
        EXPECT_EQ(device.paused, c.paused) << c.what << ": only record 1's reply is held back";
        device.Send(RecordRequestOf({0x42, 0x00}));
        EXPECT_EQ(device.Frames(), c.frames) << c.what;
        EXPECT_EQ(device.sim.repliesSent(), 2u) << c.what << ": an extra frame is not counted as a reply";
    }
}

TEST(DeviceSimStore, OnlyRecordsAnsweredAsTakenAreStored)
{
    auto options = [](auto set) {
        SimOptions o;
        set(o);
        return o;
    };
    const struct {
        const char* what;
        SimOptions options;
        std::vector<uint8_t> stored;  // first data byte of each record stored
    } cases[] = {
        {"plain", {}, {'1', '2', '3', '4'}},
        {"--refuse-records", options([](SimOptions& o) { o.refuseRecords = true; }), {}},
        {"--refuse-every 2", options([](SimOptions& o) { o.refuseEvery = 2; }), {'1', '3'}},
        {"--stop-after 2",
         options([](SimOptions& o) {
             o.stopAfterSet = true;
             o.stopAfter = 2;
         }),
         {'1', '2'}},
        {"--refuse-every 2 --stop-after 3",
         options([](SimOptions& o) {
             o.refuseEvery = 2;
             o.stopAfterSet = true;
             o.stopAfter = 3;
         }),
         {'1', '3'}},
        {"--silent", options([](SimOptions& o) { o.silent = true; }), {}},
        {"--probe-only", options([](SimOptions& o) { o.probeOnly = true; }), {}},
        // The reply goes out with the taken status, spoilt on the line: the
        // device holds the record all the same.
        {"--corrupt-fcs 1", options([](SimOptions& o) { o.corruptFcs = 1; }), {'1', '2', '3', '4'}},
    };
    for (const auto& c : cases) {
        Device device(c.options);
        std::vector<uint8_t> stored;
        size_t lineBefore = 0;
        device.sim.SetRecordStored([&](const uint8_t* data, size_t length) {
            ASSERT_EQ(length, 2u) << c.what;
            stored.push_back(data[0]);
            EXPECT_EQ(device.line.size(), lineBefore) << c.what << ": the reply went out before the record was stored";
        });
        for (uint8_t k = '1'; k <= '4'; ++k) {
            lineBefore = device.line.size();
            device.Send(RecordRequestOf({k, 0x00}));
        }
        EXPECT_EQ(stored, c.stored) << c.what;
    }
}

}  // namespace
