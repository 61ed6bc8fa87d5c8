#include "LineFaults.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "DeviceMessages.h"
#include "FrameCodec.h"
#include "FrameTestSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Corrupted(const Bytes& payload)
{
    static uint8_t frame[STUFFED_FRAME_SIZE];
    size_t n = BuildFrame(payload.data(), payload.size(), frame);
    n = CorruptFrameFcs(frame, n);
    return Bytes(frame, frame + n);
}

// The wire form of `payload` followed by `fcs`, stuffed and between flags,
// spelled out byte by byte.
Bytes WireForm(const Bytes& payload, uint16_t fcs)
{
    Bytes body = payload;
    body.push_back(static_cast<uint8_t>(fcs & 0xFF));
    body.push_back(static_cast<uint8_t>(fcs >> 8));
    Bytes wire = {FRAME_FLAG};
    for (uint8_t b : body) {
        if (b == FRAME_FLAG || b == FRAME_ESCAPE) {
            wire.push_back(FRAME_ESCAPE);
            wire.push_back(static_cast<uint8_t>(b - ESCAPE_OFFSET));
        } else {
            wire.push_back(b);
        }
    }
    wire.push_back(FRAME_FLAG);
    return wire;
}

bool NeedsStuffing(uint16_t fcs)
{
    auto special = [](uint8_t b) { return b == FRAME_FLAG || b == FRAME_ESCAPE; };
    return special(static_cast<uint8_t>(fcs & 0xFF)) || special(static_cast<uint8_t>(fcs >> 8));
}

FrameReceiver::Result Receive(const Bytes& wire, LinkStatistics& stats, Bytes& payload)
{
    FrameReceiver receiver(stats, DEVICE_RECEIVE_LIMIT);
    uint8_t buffer[FRAME_BUFFER_SIZE];
    FrameReceiver::Result result = FrameReceiver::MORE;
    for (uint8_t b : wire) {
        size_t length = sizeof buffer;
        result = receiver.Feed(b, buffer, &length);
        if (result == FrameReceiver::GOOD) payload.assign(buffer, buffer + length);
        if (result != FrameReceiver::MORE) break;
    }
    return result;
}

// A probe reply with a two-byte body chosen so that the FCS before or after
// the corruption holds a byte that must be stuffed.
Bytes FindReply(bool stuffedBefore, bool stuffedAfter)
{
    for (uint32_t v = 0; v <= 0xFFFF; ++v) {
        Bytes payload = {0x82, 0x02, 0x00, static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
        uint16_t fcs = MakeFcs(payload.data(), payload.size());
        if (NeedsStuffing(fcs) == stuffedBefore && NeedsStuffing(fcs ^ FCS_CORRUPTION) == stuffedAfter) return payload;
    }
    return {};
}

TEST(CorruptFcs, ChangesOnlyTheFcsOfTheBuiltFrame)
{
    const Bytes probe = {0x82, 0x00, 0x00};
    uint16_t fcs = MakeFcs(probe.data(), probe.size());
    Bytes wire = Corrupted(probe);
    EXPECT_EQ(wire, WireForm(probe, fcs ^ FCS_CORRUPTION));
    Bytes good = BuiltFrame(probe);
    ASSERT_EQ(wire.size(), good.size());
    EXPECT_EQ(Bytes(wire.begin(), wire.end() - 3), Bytes(good.begin(), good.end() - 3)) << "flag and payload kept";
}

TEST(CorruptFcs, TheReceiverRejectsTheFrame)
{
    LinkStatistics stats;
    Bytes payload;
    EXPECT_EQ(Receive(Corrupted({0x87, 0x01, 0x00, 0x01}), stats, payload), FrameReceiver::BAD);
    EXPECT_EQ(stats.badFramesReceived, 1u);
    EXPECT_EQ(Receive(BuiltFrame({0x87, 0x01, 0x00, 0x01}), stats, payload), FrameReceiver::GOOD)
        << "the good one passes";
}

TEST(CorruptFcs, StuffedFcsBytesOnEitherSide)
{
    for (bool before : {false, true}) {
        for (bool after : {false, true}) {
            Bytes payload = FindReply(before, after);
            ASSERT_FALSE(payload.empty()) << "no reply for stuffing " << before << "/" << after;
            uint16_t fcs = MakeFcs(payload.data(), payload.size());
            ASSERT_EQ(BuiltFrame(payload), WireForm(payload, fcs));
            EXPECT_EQ(Corrupted(payload), WireForm(payload, fcs ^ FCS_CORRUPTION))
                << "stuffed before " << before << ", after " << after;
            LinkStatistics stats;
            Bytes received;
            EXPECT_EQ(Receive(Corrupted(payload), stats, received), FrameReceiver::BAD);
        }
    }
}

TEST(CorruptFcs, RandomFramesFullOfSpecialBytes)
{
    std::mt19937 rng(1662);
    for (int round = 0; round < 2000; ++round) {
        Bytes payload(rng() % 40);
        for (auto& b : payload) {
            uint32_t r = rng() % 4;
            b = r == 0 ? FRAME_FLAG : r == 1 ? FRAME_ESCAPE : static_cast<uint8_t>(rng());
        }
        uint16_t fcs = MakeFcs(payload.data(), payload.size());
        ASSERT_EQ(Corrupted(payload), WireForm(payload, fcs ^ FCS_CORRUPTION)) << "round " << round;
    }
}

TEST(CorruptFcs, LeavesWhatIsNoFrameAlone)
{
    uint8_t frame[STUFFED_FRAME_SIZE] = {FRAME_FLAG, 0x01, FRAME_FLAG};
    EXPECT_EQ(CorruptFrameFcs(frame, 3), 3u);
    EXPECT_EQ(CorruptFrameFcs(frame, 0), 0u);
    frame[0] = 0x41;
    frame[1] = 0x42;
    frame[2] = 0x43;
    frame[3] = 0x44;
    EXPECT_EQ(CorruptFrameFcs(frame, 4), 4u);
    EXPECT_EQ(frame[3], 0x44);
}

TEST(WrongLength, FieldClaimsOneByteMore)
{
    uint8_t reply[FRAME_BUFFER_SIZE];
    size_t n = BuildRecordReply(reply, RECORD_TAKEN);
    EXPECT_EQ(MisstateBodyLength(reply), 2);
    EXPECT_EQ(Bytes(reply, reply + n), (Bytes{0x87, 0x02, 0x00, 0x01}));
    EXPECT_FALSE(IsAcceptedReply(reply, n, CMD_RECORD | REPLY_BIT));

    // A body of 255 carries into the high byte.
    std::string type(255 - 4, 'x');
    n = BuildInfoReply(reply, 7, type);
    ASSERT_EQ(MessageBodyLength(reply), 255);
    EXPECT_EQ(MisstateBodyLength(reply), 256);
    EXPECT_EQ(reply[1], 0x00);
    EXPECT_EQ(reply[2], 0x01);
    EXPECT_EQ(ReadInfoReply(reply, n).serverType, type) << "the body is untouched";
}

TEST(Noise, ShortRunsWithoutFlagsThatTheReceiverSkips)
{
    std::mt19937 rng(0x5eed);
    std::set<size_t> counts;
    for (int round = 0; round < 1000; ++round) {
        uint8_t noise[MAX_NOISE_BYTES];
        size_t count = MakeNoise(rng, noise);
        ASSERT_GE(count, 1u);
        ASSERT_LE(count, MAX_NOISE_BYTES);
        counts.insert(count);
        Bytes wire(noise, noise + count);
        for (uint8_t b : wire)
            ASSERT_NE(b, FRAME_FLAG) << "noise would open a frame";
        const Bytes reply = {0x82, 0x00, 0x00};
        Bytes frame = BuiltFrame(reply);
        wire.insert(wire.end(), frame.begin(), frame.end());
        LinkStatistics stats;
        Bytes received;
        ASSERT_EQ(Receive(wire, stats, received), FrameReceiver::GOOD) << "round " << round;
        ASSERT_EQ(received, reply);
    }
    EXPECT_EQ(counts.size(), MAX_NOISE_BYTES) << "every length from 1 to 8 turns up";
}

}  // namespace
