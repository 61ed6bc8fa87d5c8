#include "DeviceMessages.h"

#include "FrameCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(MessageHeader, LengthAndCode)
{
    const uint8_t reply[] = {0x87, 0x01, 0x00, 0x01};
    EXPECT_EQ(MessageBodyLength(reply), 1);
    EXPECT_EQ(MessageLength(reply), 4u);
    EXPECT_EQ(MessageCode(reply), CMD_RECORD);
    const uint8_t big[] = {0x02, 0xA0, 0x0F};
    EXPECT_EQ(MessageBodyLength(big), 4000);
    EXPECT_EQ(MessageLength(big), 4003u);
}

TEST(Requests, InfoRequestIsThreeBytes)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    std::memset(out, 0xCC, sizeof out);
    ASSERT_EQ(BuildInfoRequest(out), 3u);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x01, 0x00, 0x00}));
}

TEST(Requests, ProbeFillerIsZeroEvenAfterEarlierRecords)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    // What a record request leaves behind must not go out in the probe.
    std::memset(out, 0x5A, sizeof out);
    ASSERT_EQ(BuildProbeRequest(out, PROBE_FILLER_COUNT), 4003u);
    EXPECT_EQ(out[0], CMD_PROBE);
    EXPECT_EQ(MessageBodyLength(out), 4000);
    for (size_t k = 3; k < 4003; ++k)
        ASSERT_EQ(out[k], 0) << "filler byte " << k;
    EXPECT_EQ(out[4003], 0x5A) << "zeroing stops at the message end";

    // A count beyond the buffer zeroes only as far as the buffer reaches.
    std::memset(out, 0x5A, sizeof out);
    EXPECT_EQ(BuildProbeRequest(out, 5000), 5003u);
    EXPECT_EQ(out[FRAME_BUFFER_SIZE - 1], 0);
}

TEST(Requests, RecordRequestLayout)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    Bytes data(100);
    for (size_t k = 0; k < data.size(); ++k)
        data[k] = static_cast<uint8_t>(k + 1);
    ASSERT_EQ(BuildRecordRequest(out, RECORD_FLAG, 100, data.data()), 106u);
    EXPECT_EQ(out[0], CMD_RECORD);
    EXPECT_EQ(MessageBodyLength(out), 103);
    EXPECT_EQ(out[3], RECORD_FLAG);
    EXPECT_EQ(out[4] | (out[5] << 8), 100);
    EXPECT_EQ(Bytes(out + 6, out + 106), data);
}

TEST(Requests, RecordExampleGoesOutAsKnownFrame)
{
    const Bytes data = {0x4C, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x00, 0x31, 0x32, 0x33, 0x00, 0x00, 0x00, 0x00};
    uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildRecordRequest(out, RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data());
    ASSERT_EQ(n, 22u);
    static uint8_t frame[STUFFED_FRAME_SIZE];
    size_t f = BuildFrame(out, n, frame);
    ASSERT_EQ(f, 26u);
    EXPECT_EQ(frame[23], 0xB4);
    EXPECT_EQ(frame[24], 0xA8);
}

TEST(Requests, RecordDataLimitKeepsOneFrame)
{
    static uint8_t out[FRAME_BUFFER_SIZE];
    static uint8_t data[MAX_RECORD_DATA + 1];
    size_t n = BuildRecordRequest(out, RECORD_FLAG, MAX_RECORD_DATA, data);
    EXPECT_EQ(n, MAX_FRAME_PAYLOAD);
    static uint8_t frame[STUFFED_FRAME_SIZE];
    EXPECT_GT(BuildFrame(out, n, frame), 0u);

    std::memset(out, 0xCC, sizeof out);
    EXPECT_EQ(BuildRecordRequest(out, RECORD_FLAG, MAX_RECORD_DATA + 1, data), 0u);
    EXPECT_EQ(out[0], 0xCC) << "a refused record writes nothing";
}

TEST(Replies, InfoReplyExample)
{
    const uint8_t reply[] = {0x81, 0x06, 0x00, 0x00, 0x00, 0x04, 0x41, 0x42, 0x00};
    ASSERT_TRUE(IsAcceptedReply(reply, sizeof reply, CMD_INFO | REPLY_BIT));
    InfoReply info = ReadInfoReply(reply, sizeof reply);
    EXPECT_EQ(info.freeKb, 1024);
    EXPECT_EQ(info.serverType, "AB");
}

TEST(Replies, InfoReplyShortOrWithoutNul)
{
    const uint8_t noNul[] = {0x81, 0x05, 0x00, 0x00, 0x10, 0x00, 0x58, 0x59};
    InfoReply a = ReadInfoReply(noNul, sizeof noNul);
    EXPECT_EQ(a.freeKb, 16);
    EXPECT_EQ(a.serverType, "XY");
    const uint8_t shortReply[] = {0x81, 0x01, 0x00, 0x00};
    InfoReply b = ReadInfoReply(shortReply, sizeof shortReply);
    EXPECT_EQ(b.freeKb, 0);
    EXPECT_TRUE(b.serverType.empty());
}

TEST(Replies, RecordStatus)
{
    const uint8_t refused[] = {0x87, 0x01, 0x00, 0x00};
    const uint8_t taken[] = {0x87, 0x01, 0x00, 0x01};
    const uint8_t empty[] = {0x87, 0x00, 0x00};
    ASSERT_TRUE(IsAcceptedReply(refused, 4, CMD_RECORD | REPLY_BIT));
    ASSERT_TRUE(IsAcceptedReply(taken, 4, CMD_RECORD | REPLY_BIT));
    EXPECT_EQ(ReadRecordStatus(refused, 4), 0);
    EXPECT_NE(ReadRecordStatus(taken, 4), 0);
    EXPECT_EQ(ReadRecordStatus(empty, 3), 0);
}

TEST(Replies, AcceptanceNeedsMatchingLengthAndCode)
{
    const uint8_t tenBytes[] = {0x81, 0x06, 0x00, 0x00, 0x00, 0x04, 0x41, 0x42, 0x00, 0x00};
    EXPECT_FALSE(IsAcceptedReply(tenBytes, sizeof tenBytes, 0x81));
    EXPECT_TRUE(IsAcceptedReply(tenBytes, 9, 0x81));
    const uint8_t probe[] = {0x82, 0x00, 0x00};
    EXPECT_TRUE(IsAcceptedReply(probe, 3, 0x82));
    EXPECT_FALSE(IsAcceptedReply(probe, 3, 0x81)) << "a reply of another code is passed over";
    EXPECT_FALSE(IsAcceptedReply(probe, 2, 0x82));
    EXPECT_FALSE(IsAcceptedReply(probe, 0, 0x82));
}

}  // namespace
