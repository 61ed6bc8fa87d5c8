// The faults pdasim puts on the line when asked: silence, refusals, delays,
// damaged, wrong and stale replies, noise and the line's own pace.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "DeviceMessages.h"
#include "PdaSimFixture.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST_F(PdaSim, SilentAnswersNothing)
{
    Launch({"--silent"});
    ExpectNoReply(Probe());
    ExpectNoReply(Info());
}

TEST_F(PdaSim, ProbeOnlyAnswersOnlyTheProbe)
{
    Launch({"--probe-only"});
    Exchange(Probe(), 0x82);
    ExpectNoReply(Info());
    ExpectNoReply(Record());
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"status\":null}"), std::string::npos) << lines[0];
}

TEST_F(PdaSim, RefuseRecordsAndRefuseEvery)
{
    Launch({"--refuse-records"});
    EXPECT_EQ(Exchange(Record(), 0x87), (Bytes{0x87, 0x01, 0x00, 0x00}));
    EXPECT_EQ(Exchange(Record(), 0x87), (Bytes{0x87, 0x01, 0x00, 0x00}));
    sim.Stop();
    client.Close();

    Launch({"--refuse-every", "3"});
    std::vector<uint8_t> statuses;
    for (int k = 0; k < 6; ++k) {
        Bytes reply = Exchange(Record(), 0x87);
        statuses.push_back(ReadRecordStatus(reply.data(), reply.size()));
    }
    EXPECT_EQ(statuses, (std::vector<uint8_t>{1, 1, 0, 1, 1, 0}));
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[2].find("\"seq\":3,"), std::string::npos);
    EXPECT_NE(lines[2].find("\"status\":0}"), std::string::npos);
}

TEST_F(PdaSim, StopAfterFallsSilent)
{
    Launch({"--stop-after", "2"});
    Exchange(Probe(), 0x82);
    Exchange(Record(), 0x87);
    Exchange(Record(), 0x87);
    ExpectNoReply(Record());
    ExpectNoReply(Probe());
}

TEST_F(PdaSim, DelayHoldsEveryReply)
{
    Launch({"--delay-ms", "300"});
    auto start = Clock::now();
    Exchange(Info(), 0x81);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 300) << "reply came before the delay";
}

TEST_F(PdaSim, CorruptFcsHitsOnlyTheChosenReply)
{
    Launch({"--corrupt-fcs", "2"});
    Exchange(Probe(), 0x82);
    ExpectNoReply(Info());
    EXPECT_EQ(client.stats.badFramesReceived, 1u);
    Exchange(Info(), 0x81);
    EXPECT_EQ(client.stats.goodFramesReceived, 2u);
}

TEST_F(PdaSim, WrongLengthRepliesAreNotAccepted)
{
    Launch({"--wrong-length"});
    ASSERT_TRUE(client.SendMessage(Record()));
    Bytes reply;
    ASSERT_TRUE(client.ReceiveMessage(reply, REPLY_WAIT_MS));
    EXPECT_EQ(reply, (Bytes{0x87, 0x02, 0x00, 0x01}));
    EXPECT_FALSE(IsAcceptedReply(reply.data(), reply.size(), 0x87));
}

TEST_F(PdaSim, StaleReplyComesFirst)
{
    Launch({"--stale-reply"});
    ASSERT_TRUE(client.SendMessage(Probe()));
    Bytes first, second;
    ASSERT_TRUE(client.ReceiveMessage(first, REPLY_WAIT_MS));
    ASSERT_TRUE(client.ReceiveMessage(second, REPLY_WAIT_MS));
    EXPECT_EQ(first, (Bytes{0x87, 0x01, 0x00, 0x01}));
    EXPECT_EQ(second, (Bytes{0x82, 0x00, 0x00}));

    ASSERT_TRUE(client.SendMessage(Record()));
    ASSERT_TRUE(client.ReceiveMessage(first, REPLY_WAIT_MS));
    ASSERT_TRUE(client.ReceiveMessage(second, REPLY_WAIT_MS));
    EXPECT_TRUE(IsAcceptedReply(first.data(), first.size(), 0x81));
    EXPECT_EQ(second, (Bytes{0x87, 0x01, 0x00, 0x01}));
}

TEST_F(PdaSim, NoiseBeforeEveryFrame)
{
    Launch({"--noise"});
    Exchange(Probe(), 0x82);
    Exchange(Info(), 0x81);
    const Bytes& raw = client.rawSeen();
    ASSERT_FALSE(raw.empty());
    EXPECT_NE(raw[0], FRAME_FLAG) << "the first frame had no noise in front";
    EXPECT_EQ(client.stats.badFramesReceived, 0u);
}

TEST_F(PdaSim, PaceTakesTheLineTime)
{
    Launch({"--pace"});
    auto start = Clock::now();
    Exchange(Probe(), 0x82);  // 4003 + 6 bytes out: about 0.7 s at 5760 bytes/s
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, 650) << "the probe crossed the line faster than 57600 baud allows";
}

TEST_F(PdaSim, SigtermEndsALongReplyDelay)
{
    Launch({"--delay-ms", "60000"});
    ASSERT_TRUE(client.SendMessage(Info()));
    Bytes reply;
    EXPECT_FALSE(client.ReceiveMessage(reply, 200));
    auto start = Clock::now();
    EXPECT_EQ(sim.Stop(), 0) << "pdasim did not end cleanly while delaying a reply";
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
