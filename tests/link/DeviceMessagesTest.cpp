#include "DeviceMessages.h"

#include "FrameCodec.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
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
    const Bytes data = {0x4C, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x32, 0x33, 0x00, 0x00, 0x00, 0x00};
    uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildRecordRequest(out, RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data());
    ASSERT_EQ(n, 22u);
    Bytes request = {0x07, 0x13, 0x00, 0x01, 0x10, 0x00};
    request.insert(request.end(), data.begin(), data.end());
    EXPECT_EQ(Bytes(out, out + n), request);
    static uint8_t frame[STUFFED_FRAME_SIZE];
    size_t f = BuildFrame(out, n, frame);
    ASSERT_EQ(f, 26u);
    Bytes wire = {0x7E};
    wire.insert(wire.end(), request.begin(), request.end());
    wire.insert(wire.end(), {0xB4, 0xA8, 0x7E});
    EXPECT_EQ(Bytes(frame, frame + f), wire);
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

// The device's side: what the simulator reads from requests and builds as
// replies, judged against the library's own readers and the known bytes.

TEST(DeviceRequests, OnlyWholeMessagesAreTaken)
{
    const uint8_t info[] = {0x01, 0x00, 0x00};
    EXPECT_TRUE(IsWholeMessage(info, 3));
    EXPECT_FALSE(IsWholeMessage(info, 2)) << "shorter than a header";
    EXPECT_FALSE(IsWholeMessage(info, 0));
    const uint8_t claimsMore[] = {0x01, 0x05, 0x00};
    EXPECT_FALSE(IsWholeMessage(claimsMore, 3));
    const uint8_t tenBytes[] = {0x81, 0x06, 0x00, 0x00, 0x00, 0x04, 0x41, 0x42, 0x00, 0x00};
    EXPECT_FALSE(IsWholeMessage(tenBytes, sizeof tenBytes)) << "more bytes than the length field says";
    EXPECT_TRUE(IsWholeMessage(tenBytes, 9));
    // The high byte of the length field counts.
    Bytes big(3 + 0x0102, 0);
    big[0] = CMD_PROBE;
    big[1] = 0x02;
    big[2] = 0x01;
    EXPECT_TRUE(IsWholeMessage(big.data(), big.size()));
    EXPECT_FALSE(IsWholeMessage(big.data(), 3 + 0x02));
}

TEST(DeviceRequests, RequestCodeKeepsTheReplyBit)
{
    const uint8_t record[] = {0x07, 0x00, 0x00};
    const uint8_t echoedReply[] = {0x81, 0x00, 0x00};
    EXPECT_EQ(RequestCode(record), CMD_RECORD);
    EXPECT_EQ(RequestCode(echoedReply), 0x81) << "a reply sent back must not read as an information request";
    EXPECT_EQ(MessageCode(echoedReply), CMD_INFO);
}

TEST(DeviceRequests, ProbeCountIsTheFillerTheLibraryAnnounced)
{
    static uint8_t out[FRAME_BUFFER_SIZE];
    BuildProbeRequest(out, PROBE_FILLER_COUNT);
    EXPECT_EQ(ReadProbeCount(out), 4000);
    BuildProbeRequest(out, 0x1234);
    EXPECT_EQ(ReadProbeCount(out), 0x1234);
    const uint8_t empty[] = {0x02, 0x00, 0x00};
    EXPECT_EQ(ReadProbeCount(empty), 0);
}

TEST(DeviceRequests, RecordRequestReadsBackWhatTheLibraryBuilt)
{
    const Bytes data = {0x4C, 0x69, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x31, 0x32, 0x33, 0x00, 0x00, 0x00, 0x00};
    uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildRecordRequest(out, RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data());
    RecordRequest record = ReadRecordRequest(out, n);
    EXPECT_EQ(record.flag, RECORD_FLAG);
    ASSERT_EQ(record.dataLength, 16u);
    EXPECT_EQ(record.data, out + 6);
    EXPECT_EQ(Bytes(record.data, record.data + record.dataLength), data);

    // Flag and a data length with a high byte, from hand-written bytes.
    Bytes big = {0x07, 0x03, 0x01, 0x09, 0x00, 0x01};
    big.resize(6 + 0x100, 0x41);
    RecordRequest large = ReadRecordRequest(big.data(), big.size());
    EXPECT_EQ(large.flag, 9);
    EXPECT_EQ(large.dataLength, 0x100u);
}

TEST(DeviceRequests, ShortRecordRequestsReadAsWhatTheyCarry)
{
    // A data length that claims more than the request holds is cut.
    const uint8_t claimsMore[] = {0x07, 0x05, 0x00, 0x01, 0x40, 0x00, 0x41, 0x00};
    RecordRequest cut = ReadRecordRequest(claimsMore, sizeof claimsMore);
    EXPECT_EQ(cut.flag, 1);
    EXPECT_EQ(cut.dataLength, 2u);
    EXPECT_EQ(cut.data, claimsMore + 6);

    const uint8_t flagOnly[] = {0x07, 0x02, 0x00, 0x05, 0x09};
    RecordRequest a = ReadRecordRequest(flagOnly, sizeof flagOnly);
    EXPECT_EQ(a.flag, 5);
    EXPECT_EQ(a.dataLength, 0u) << "no room for the data length";
    EXPECT_EQ(a.data, flagOnly + sizeof flagOnly);

    const uint8_t headerOnly[] = {0x07, 0x00, 0x00};
    RecordRequest b = ReadRecordRequest(headerOnly, sizeof headerOnly);
    EXPECT_EQ(b.flag, 0);
    EXPECT_EQ(b.dataLength, 0u);
    EXPECT_EQ(b.data, headerOnly + 3);
}

TEST(DeviceReplies, ProbeReplyIsAcceptedByTheLibrary)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    ASSERT_EQ(BuildProbeReply(out), 3u);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x82, 0x00, 0x00}));
    EXPECT_TRUE(IsAcceptedReply(out, 3, CMD_PROBE | REPLY_BIT));
}

TEST(DeviceReplies, InfoReplyExampleBytes)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildInfoReply(out, 1024, "AB");
    ASSERT_EQ(n, 9u);
    EXPECT_EQ(Bytes(out, out + n), (Bytes{0x81, 0x06, 0x00, 0x00, 0x00, 0x04, 0x41, 0x42, 0x00}));
    ASSERT_TRUE(IsAcceptedReply(out, n, CMD_INFO | REPLY_BIT));
    InfoReply info = ReadInfoReply(out, n);
    EXPECT_EQ(info.freeKb, 1024);
    EXPECT_EQ(info.serverType, "AB");
}

TEST(DeviceReplies, InfoReplyCarriesAnyFreeSpaceAndCp936Bytes)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    const std::string cp936 = "\xB2\xE2\xCA\xD4PDA";  // "测试PDA"
    size_t n = BuildInfoReply(out, 0xFFFF, cp936);
    ASSERT_EQ(n, 6 + cp936.size() + 1);
    ASSERT_TRUE(IsAcceptedReply(out, n, CMD_INFO | REPLY_BIT));
    EXPECT_EQ(out[3], 0) << "the byte the library does not read goes out as 0";
    InfoReply info = ReadInfoReply(out, n);
    EXPECT_EQ(info.freeKb, 0xFFFF);
    EXPECT_EQ(info.serverType, cp936);

    n = BuildInfoReply(out, 0, "");
    EXPECT_EQ(Bytes(out, out + n), (Bytes{0x81, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(DeviceReplies, InfoReplyMustFitOneFrame)
{
    static uint8_t out[FRAME_BUFFER_SIZE];
    const std::string longest(MAX_FRAME_PAYLOAD - 7, 'T');
    size_t n = BuildInfoReply(out, 1, longest);
    EXPECT_EQ(n, MAX_FRAME_PAYLOAD);
    EXPECT_EQ(MessageLength(out), n);
    static uint8_t frame[STUFFED_FRAME_SIZE];
    EXPECT_GT(BuildFrame(out, n, frame), 0u);

    std::memset(out, 0xCC, sizeof out);
    EXPECT_EQ(BuildInfoReply(out, 1, longest + 'T'), 0u);
    EXPECT_EQ(out[0], 0xCC) << "a refused reply writes nothing";
}

TEST(DeviceReplies, RecordReplyExamples)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    ASSERT_EQ(BuildRecordReply(out, RECORD_REFUSED), 4u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x87, 0x01, 0x00, 0x00}));
    ASSERT_TRUE(IsAcceptedReply(out, 4, CMD_RECORD | REPLY_BIT));
    EXPECT_EQ(ReadRecordStatus(out, 4), 0) << "refused";

    ASSERT_EQ(BuildRecordReply(out, RECORD_TAKEN), 4u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x87, 0x01, 0x00, 0x01}));
    EXPECT_NE(ReadRecordStatus(out, 4), 0) << "taken";
}

TEST(DeviceReplies, RewrittenLengthFieldIsNoLongerAccepted)
{
    uint8_t out[FRAME_BUFFER_SIZE];
    size_t n = BuildRecordReply(out, RECORD_TAKEN);
    WriteMessageBodyLength(out, 2);
    EXPECT_EQ(Bytes(out, out + n), (Bytes{0x87, 0x02, 0x00, 0x01}));
    EXPECT_FALSE(IsAcceptedReply(out, n, CMD_RECORD | REPLY_BIT));
    WriteMessageBodyLength(out, 0x0201);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(out[2], 0x02);
    EXPECT_EQ(MessageBodyLength(out), 0x0201);
}

}  // namespace
