// A thousand consecutive requests, with time-outs and stops mixed in,
// must leave the process with the handles and threads it started with.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "DeviceMessages.h"
#include "LinkTestSupport.h"
#include "SerialLink.h"

namespace {

constexpr int SOAK_REQUESTS = 1000;
constexpr int TIMEOUT_EVERY = 200;  // five time-outs of 1 s each
constexpr int STOP_EVERY = 50;      // twenty stops in the middle of a request

// Thread exits can show in a snapshot a moment after the join returned.
size_t SettledThreadCount(size_t expected)
{
    size_t count = CountProcessThreads();
    for (int attempt = 0; attempt < 50 && count != expected; ++attempt) {
        Sleep(20);
        count = CountProcessThreads();
    }
    return count;
}

TEST(SerialLinkSoak, ThousandRequestsLeaveNoHandlesOrThreadsBehind)
{
    CompletionWindow window;
    SerialLink link;
    SerialLink silent;
    const std::vector<uint8_t> record(1000, 0x42);

    // One full round first, so lazily created process resources are counted
    // in the baseline rather than as a leak.
    ASSERT_TRUE(link.Start(SOAK_PORT, window.Handle()));
    ASSERT_TRUE(silent.Start(SILENT_PORT, window.Handle()));
    ASSERT_TRUE(link.RequestInfo());
    ASSERT_TRUE(window.WaitFor(1, 3000));
    link.Stop();
    silent.Stop();
    window.completions.clear();

    const size_t handlesBefore = CountProcessHandles();
    const size_t threadsBefore = CountProcessThreads();

    ASSERT_TRUE(link.Start(SOAK_PORT, window.Handle()));
    ASSERT_TRUE(silent.Start(SILENT_PORT, window.Handle()));
    int replies = 0;
    int timeOuts = 0;
    int stops = 0;
    int answeredBeforeStop = 0;
    const double started = NowMs();
    for (int i = 0; i < SOAK_REQUESTS; ++i) {
        const size_t expected = window.completions.size() + 1;
        if (i % TIMEOUT_EVERY == TIMEOUT_EVERY - 1) {
            ASSERT_TRUE(silent.RequestInfo());
            ASSERT_TRUE(window.WaitFor(expected, 3000)) << "request " << i << ": no time-out reported";
            ASSERT_EQ(window.completions.back().success, 0u) << "request " << i;
            ++timeOuts;
        } else if (i % STOP_EVERY == STOP_EVERY / 2) {
            // Stopped while its reply may be on the way: the next request
            // must pass over it if it arrives late.
            ASSERT_TRUE(link.RequestRecord(RECORD_FLAG, static_cast<uint16_t>(record.size()), record.data()));
            const size_t before = window.completions.size();
            link.Stop();
            ASSERT_FALSE(link.RequestRunning());
            // A reply that beat the Stop was posted before Stop returned and
            // is a real completion; take it in now, while the reply buffer
            // still holds it, so it is not counted as the next request's.
            window.Pump(0);
            if (window.completions.size() != before) {
                ASSERT_EQ(window.completions.size(), before + 1) << "request " << i;
                ASSERT_EQ(window.completions.back().success, 1u) << "request " << i;
                ASSERT_EQ(window.completions.back().code, CMD_RECORD | REPLY_BIT) << "request " << i;
                ++answeredBeforeStop;
            }
            ASSERT_TRUE(link.Start(SOAK_PORT, window.Handle())) << "request " << i << ": port not free after Stop";
            ++stops;
        } else {
            uint8_t wanted = 0;
            switch (i % 3) {
            case 0:
                ASSERT_TRUE(link.RequestInfo());
                wanted = CMD_INFO;
                break;
            case 1:
                ASSERT_TRUE(link.RequestProbe(PROBE_FILLER_COUNT));
                wanted = CMD_PROBE;
                break;
            default:
                ASSERT_TRUE(link.RequestRecord(RECORD_FLAG, static_cast<uint16_t>(record.size()), record.data()));
                wanted = CMD_RECORD;
                break;
            }
            ASSERT_TRUE(window.WaitFor(expected, 5000)) << "request " << i << ": no completion";
            ASSERT_EQ(window.completions.back().success, 1u) << "request " << i;
            ASSERT_EQ(window.completions.back().code, wanted | REPLY_BIT) << "request " << i;
            ++replies;
        }
    }
    const double elapsed = NowMs() - started;
    link.Stop();
    silent.Stop();
    window.Pump(200);
    const size_t completions = window.completions.size();

    const size_t handlesAfter = CountProcessHandles();
    const size_t threadsAfter = SettledThreadCount(threadsBefore);
    std::printf("soak: %d requests (%d replies, %d time-outs, %d stops, %d answered before their stop) in %.0f ms\n",
                SOAK_REQUESTS, replies, timeOuts, stops, answeredBeforeStop, elapsed);
    std::printf("soak: handles before %u after %u; threads before %u after %u\n", static_cast<unsigned>(handlesBefore),
                static_cast<unsigned>(handlesAfter), static_cast<unsigned>(threadsBefore),
                static_cast<unsigned>(threadsAfter));
    EXPECT_EQ(completions, static_cast<size_t>(replies + timeOuts + answeredBeforeStop))
        << "a stopped request completed after its stop";
    EXPECT_EQ(handlesAfter, handlesBefore);
    EXPECT_EQ(threadsAfter, threadsBefore);
}

}  // namespace
