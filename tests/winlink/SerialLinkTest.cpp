// The request exchange under Wine, one simulator behaviour per port.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceMessages.h"
#include "LinkTestSupport.h"
#include "SerialLink.h"

namespace {

// A started link with its completion window, stopped at the end of each test.
class SerialLinkTest : public testing::Test {
protected:
    void TearDown() override { link.Stop(); }

    void StartOn(const char* portName)
    {
        ASSERT_NE(window.Handle(), nullptr);
        ASSERT_TRUE(link.Start(portName, window.Handle())) << "cannot open " << portName << "; is its pdasim running?";
    }

    CompletionWindow window;
    SerialLink link;
};

std::vector<uint8_t> Pattern(size_t length, uint8_t seed)
{
    std::vector<uint8_t> data(length);
    for (size_t k = 0; k < length; ++k)
        data[k] = static_cast<uint8_t>(seed + k * 7);
    return data;
}

std::string LowerHex(const std::vector<uint8_t>& data)
{
    static const char DIGITS[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : data) {
        out += DIGITS[b >> 4];
        out += DIGITS[b & 15];
    }
    return out;
}

namespace {

// The worker that posts a completion marks the request ended right after
// posting, so the flag may still be set for a moment when the message is in.
bool StopsRunningSoon(const SerialLink& link)
{
    const double until = NowMs() + 1000.0;
    while (link.RequestRunning()) {
        if (NowMs() > until) return false;
        Sleep(1);
    }
    return true;
}

}  // namespace

TEST_F(SerialLinkTest, InformationRequestIsAnswered)
{
    StartOn(PLAIN_PORT);
    const double started = NowMs();
    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(1, 3000)) << "no WM_LINK_DONE for the information request";
    const Completion& done = window.completions[0];
    EXPECT_EQ(done.success, 1u);
    EXPECT_EQ(done.message, link.reply);
    EXPECT_EQ(done.code, CMD_INFO | REPLY_BIT);
    EXPECT_LT(done.atMs - started, 500.0);
    const InfoReply info = ReadInfoReply(link.reply, MessageLength(link.reply));
    EXPECT_EQ(info.serverType, "PDASIM");
    EXPECT_EQ(info.freeKb, 1024);
    EXPECT_TRUE(StopsRunningSoon(link));
}

TEST_F(SerialLinkTest, InformationRequestWithoutDeviceTimesOutAfterOneSecond)
{
    StartOn(SILENT_PORT);
    const double started = NowMs();
    ASSERT_TRUE(link.RequestInfo());
    EXPECT_TRUE(link.RequestRunning());
    ASSERT_TRUE(window.WaitFor(1, 3000)) << "the watcher never reported the time-out";
    const Completion& done = window.completions[0];
    EXPECT_EQ(done.success, 0u);
    EXPECT_EQ(done.message, link.request);
    EXPECT_EQ(done.code, CMD_INFO);
    EXPECT_GE(done.atMs - started, 950.0);
    EXPECT_LE(done.atMs - started, 1500.0);
    EXPECT_TRUE(StopsRunningSoon(link));
    // Exactly one completion, even after the sender has been cancelled.
    window.Pump(300);
    EXPECT_EQ(window.completions.size(), 1u);
}

TEST_F(SerialLinkTest, ReplyWhoseLengthFieldDisagreesIsIgnored)
{
    StartOn(WRONG_LENGTH_PORT);
    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(1, 3000));
    EXPECT_EQ(window.completions[0].success, 0u);
    EXPECT_EQ(window.completions[0].code, CMD_INFO);
    // The frame itself was good; only its length field was wrong.
    EXPECT_GE(link.Statistics().goodFramesReceived, 1u);
}

TEST_F(SerialLinkTest, StaleReplyOfAnotherCodeIsSkipped)
{
    StartOn(STALE_REPLY_PORT);
    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(1, 3000));
    EXPECT_EQ(window.completions[0].success, 1u);
    EXPECT_EQ(window.completions[0].code, CMD_INFO | REPLY_BIT);
    EXPECT_EQ(link.Statistics().goodFramesReceived, 2u);
}

TEST_F(SerialLinkTest, CorruptedReplyIsRejectedAndTheNextRequestSucceeds)
{
    StartOn(CORRUPT_FCS_PORT);
    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(1, 3000));
    EXPECT_EQ(window.completions[0].success, 0u);
    EXPECT_EQ(link.Statistics().badFramesReceived, 1u);
    EXPECT_EQ(link.Statistics().goodFramesReceived, 0u);

    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(2, 3000));
    EXPECT_EQ(window.completions[1].success, 1u);
    EXPECT_EQ(window.completions[1].code, CMD_INFO | REPLY_BIT);
}

TEST_F(SerialLinkTest, LargestRecordGoesOutWhole)
{
    ASSERT_FALSE(g_testConfig.recordLogPath.empty()) << "run with --record-log=<pdasim log of " << PLAIN_PORT << ">";
    StartOn(PLAIN_PORT);
    const std::vector<uint8_t> data = Pattern(MAX_RECORD_DATA, 0x31);
    ASSERT_TRUE(link.RequestRecord(RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data()));
    ASSERT_TRUE(window.WaitFor(1, 5000));
    EXPECT_EQ(window.completions[0].success, 1u);
    EXPECT_EQ(window.completions[0].code, CMD_RECORD | REPLY_BIT);
    EXPECT_EQ(ReadRecordStatus(link.reply, MessageLength(link.reply)), 1);
    // A 4090-byte payload: two FCS bytes and two flags on top.
    EXPECT_EQ(link.Statistics().bytesSent, 4090u + 4u);

    const std::string line = LastLineOf(g_testConfig.recordLogPath);
    ASSERT_FALSE(line.empty()) << "nothing in " << g_testConfig.recordLogPath;
    EXPECT_EQ(JsonField(line, "length"), "4084");
    EXPECT_EQ(JsonField(line, "flag"), "1");
    EXPECT_EQ(JsonField(line, "data"), LowerHex(data));
}

TEST_F(SerialLinkTest, OverlongRecordEndsAtOnceWithoutSending)
{
    StartOn(PLAIN_PORT);
    const size_t loggedBefore = LineCountOf(g_testConfig.recordLogPath);
    const std::vector<uint8_t> data(MAX_RECORD_DATA + 1, 0xAB);
    const std::vector<uint8_t> replyBefore(link.reply, link.reply + FRAME_BUFFER_SIZE);
    const double started = NowMs();
    EXPECT_FALSE(link.RequestRecord(RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data()));
    ASSERT_TRUE(window.WaitFor(1, 1000));
    EXPECT_LT(window.completions[0].atMs - started, 200.0);
    EXPECT_EQ(window.completions[0].success, 0u);
    EXPECT_EQ(window.completions[0].message, link.request);
    EXPECT_EQ(window.completions[0].code, CMD_RECORD);
    EXPECT_EQ(link.Statistics().framesSent, 0u);
    EXPECT_FALSE(link.RequestRunning());
    // The reply buffer lies right behind the request buffer: nothing spilled over.
    EXPECT_EQ(std::vector<uint8_t>(link.reply, link.reply + FRAME_BUFFER_SIZE), replyBefore);
    window.Pump(200);
    EXPECT_EQ(window.completions.size(), 1u);
    EXPECT_EQ(LineCountOf(g_testConfig.recordLogPath), loggedBefore);
}

TEST_F(SerialLinkTest, ProbeFillerIsZeroEvenAfterARecord)
{
    StartOn(PLAIN_PORT);
    const std::vector<uint8_t> data(MAX_RECORD_DATA, 0x5A);
    ASSERT_TRUE(link.RequestRecord(RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data()));
    ASSERT_TRUE(window.WaitFor(1, 5000));
    ASSERT_EQ(window.completions[0].success, 1u);

    const uint32_t sentBefore = link.Statistics().bytesSent;
    ASSERT_TRUE(link.RequestProbe(PROBE_FILLER_COUNT));
    ASSERT_TRUE(window.WaitFor(2, 5000));
    EXPECT_EQ(window.completions[1].success, 1u);
    EXPECT_EQ(window.completions[1].code, CMD_PROBE | REPLY_BIT);
    EXPECT_EQ(link.Statistics().bytesSent - sentBefore, 4003u + 4u);
    EXPECT_EQ(link.request[0], CMD_PROBE);
    EXPECT_EQ(MessageLength(link.request), 4003u);
    size_t nonZero = 0;
    for (size_t k = MESSAGE_HEADER_SIZE; k < MESSAGE_HEADER_SIZE + PROBE_FILLER_COUNT; ++k) {
        if (link.request[k] != 0) ++nonZero;
    }
    EXPECT_EQ(nonZero, 0u) << "the probe carried leftovers of the record";
}

TEST_F(SerialLinkTest, StopDuringARecordPostsNothingAndFreesThePort)
{
    StartOn(DELAYED_PORT);
    const std::vector<uint8_t> data = Pattern(1000, 3);
    ASSERT_TRUE(link.RequestRecord(RECORD_FLAG, static_cast<uint16_t>(data.size()), data.data()));
    window.Pump(100);
    ASSERT_TRUE(link.RequestRunning());

    const double started = NowMs();
    link.Stop();
    EXPECT_LT(NowMs() - started, 1500.0) << "Stop waited too long for the workers";
    EXPECT_EQ(link.state, LINK_STOPPED);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_FALSE(link.RequestRunning());
    window.Pump(DELAYED_PORT_DELAY_MS + 600);
    EXPECT_TRUE(window.completions.empty()) << "Stop let the interrupted request complete";

    // The port is free again at once, and the link works on it.
    StartOn(DELAYED_PORT);
    ASSERT_TRUE(link.RequestProbe(PROBE_FILLER_COUNT));
    ASSERT_TRUE(window.WaitFor(1, 5000));
    EXPECT_EQ(window.completions[0].success, 1u);
    EXPECT_EQ(window.completions[0].code, CMD_PROBE | REPLY_BIT);
}

TEST_F(SerialLinkTest, StopDuringATimeOutWaitPostsNothing)
{
    StartOn(SILENT_PORT);
    ASSERT_TRUE(link.RequestProbe(PROBE_FILLER_COUNT));
    window.Pump(300);
    const double started = NowMs();
    link.Stop();
    EXPECT_LT(NowMs() - started, 1500.0);
    window.Pump(3000);
    EXPECT_TRUE(window.completions.empty());
}

TEST_F(SerialLinkTest, NextRequestCanBeginInsideTheCompletionHandler)
{
    StartOn(PLAIN_PORT);
    const std::vector<uint8_t> data = Pattern(200, 9);
    window.onCompletion = [&](const Completion& done) {
        if (done.success != 1) return;
        if (done.code == (CMD_PROBE | REPLY_BIT))
            link.RequestInfo();
        else if (done.code == (CMD_INFO | REPLY_BIT))
            link.RequestRecord(RECORD_FLAG, 200, data.data());
    };
    ASSERT_TRUE(link.RequestProbe(PROBE_FILLER_COUNT));
    ASSERT_TRUE(window.WaitFor(3, 8000));
    ASSERT_EQ(window.completions.size(), 3u);
    EXPECT_EQ(window.completions[0].code, CMD_PROBE | REPLY_BIT);
    EXPECT_EQ(window.completions[1].code, CMD_INFO | REPLY_BIT);
    EXPECT_EQ(window.completions[2].code, CMD_RECORD | REPLY_BIT);
    for (const Completion& done : window.completions)
        EXPECT_EQ(done.success, 1u);
    window.Pump(200);
    EXPECT_EQ(window.completions.size(), 3u);
}

TEST_F(SerialLinkTest, NextRequestCanBeginInsideATimeOutHandler)
{
    StartOn(SILENT_PORT);
    window.onCompletion = [&](const Completion& done) {
        if (window.completions.size() < 2) link.RequestInfo();
    };
    const double started = NowMs();
    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(2, 4000));
    EXPECT_EQ(window.completions[0].success, 0u);
    EXPECT_EQ(window.completions[1].success, 0u);
    EXPECT_EQ(window.completions[1].code, CMD_INFO);
    // Each request gets its own full time-out.
    EXPECT_GE(window.completions[1].atMs - window.completions[0].atMs, 950.0);
    EXPECT_GE(window.completions[1].atMs - started, 1900.0);
}

TEST(SerialLinkLifecycle, StartOnAStartedLinkFailsAndChangesNothing)
{
    CompletionWindow first;
    CompletionWindow second;
    SerialLink link;
    ASSERT_TRUE(link.Start(PLAIN_PORT, first.Handle()));
    EXPECT_FALSE(link.Start(PLAIN_PORT, second.Handle()));
    EXPECT_EQ(link.state, LINK_STARTED);
    EXPECT_EQ(link.notifyWindow, first.Handle());
    ASSERT_TRUE(link.RequestInfo());
    EXPECT_TRUE(first.WaitFor(1, 3000));
    EXPECT_TRUE(second.completions.empty());
    link.Stop();
}

TEST(SerialLinkLifecycle, MissingPortFailsStartQuickly)
{
    CompletionWindow window;
    SerialLink link;
    const double started = NowMs();
    EXPECT_FALSE(link.Start(MISSING_PORT, window.Handle()));
    EXPECT_LT(NowMs() - started, 500.0);
    EXPECT_EQ(link.state, LINK_STOPPED);
    EXPECT_EQ(link.notifyWindow, nullptr);
    EXPECT_FALSE(link.IsOpen());
}

TEST(SerialLinkLifecycle, StoppedLinkIgnoresSetNotifyWindowAndStop)
{
    CompletionWindow window;
    SerialLink link;
    link.SetNotifyWindow(window.Handle());
    EXPECT_EQ(link.notifyWindow, nullptr);
    link.Stop();
    EXPECT_EQ(link.state, LINK_STOPPED);
    EXPECT_FALSE(link.IsOpen());

    // After a Stop the link is stopped again: the window stays as it was.
    ASSERT_TRUE(link.Start(PLAIN_PORT, window.Handle()));
    link.Stop();
    CompletionWindow other;
    link.SetNotifyWindow(other.Handle());
    EXPECT_EQ(link.notifyWindow, window.Handle());
    link.Stop();
    EXPECT_EQ(link.state, LINK_STOPPED);
}

TEST(SerialLinkLifecycle, NotifyWindowChangesOnAStartedLink)
{
    CompletionWindow first;
    CompletionWindow second;
    SerialLink link;
    ASSERT_TRUE(link.Start(PLAIN_PORT, first.Handle()));
    link.SetNotifyWindow(second.Handle());
    ASSERT_TRUE(link.RequestInfo());
    EXPECT_TRUE(second.WaitFor(1, 3000));
    first.Pump(100);
    EXPECT_TRUE(first.completions.empty());
    link.Stop();
}

TEST(SerialLinkLifecycle, RestartZeroesTheStatistics)
{
    CompletionWindow window;
    SerialLink link;
    ASSERT_TRUE(link.Start(PLAIN_PORT, window.Handle()));
    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(1, 3000));
    EXPECT_GT(link.Statistics().bytesReceived, 0u);
    link.Stop();
    ASSERT_TRUE(link.Start(PLAIN_PORT, window.Handle()));
    EXPECT_EQ(link.Statistics().bytesSent, 0u);
    EXPECT_EQ(link.Statistics().bytesReceived, 0u);
    EXPECT_EQ(link.Statistics().framesSent, 0u);
    EXPECT_EQ(link.Statistics().goodFramesReceived, 0u);
    EXPECT_EQ(link.Statistics().badFramesReceived, 0u);
    link.Stop();
}

}  // namespace
