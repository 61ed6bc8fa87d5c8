// The Win32 port under Wine, against pdasim on pseudo-terminals.
#include <gtest/gtest.h>

#include <cstring>

#include "DeviceMessages.h"
#include "FramedPort.h"
#include "LinkTestSupport.h"

namespace {

// Lets the tests ask the driver what the port was configured with.
class InspectablePort : public FramedPort {
public:
    using FramedPort::port;
};

TEST(FramedPortOpen, AppliesTheLineSettingsAndTimeouts)
{
    InspectablePort port;
    ASSERT_TRUE(port.Open(PLAIN_PORT));

    DCB dcb = {};
    dcb.DCBlength = sizeof(dcb);
    ASSERT_TRUE(GetCommState(port.port, &dcb));
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);

    COMMTIMEOUTS timeouts = {};
    ASSERT_TRUE(GetCommTimeouts(port.port, &timeouts));
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1000u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 1000u);

    EXPECT_TRUE(port.Close());
}

TEST(FramedPortOpen, SecondOpenFailsAndLeavesThePortWorking)
{
    FramedPort port;
    ASSERT_TRUE(port.Open(PLAIN_PORT));
    EXPECT_FALSE(port.Open(PLAIN_PORT));
    EXPECT_TRUE(port.IsOpen());

    // Still the same configured port: an information request is answered.
    uint8_t request[FRAME_BUFFER_SIZE] = {};
    ASSERT_TRUE(port.SendFrame(request, BuildInfoRequest(request)));
    uint8_t reply[FRAME_BUFFER_SIZE];
    size_t length = sizeof(reply);
    ASSERT_TRUE(port.ReceiveFrame(reply, &length)) << "no reply from the simulator on " << PLAIN_PORT;
    EXPECT_EQ(reply[0], CMD_INFO | REPLY_BIT);
    EXPECT_TRUE(port.Close());
}

TEST(FramedPortOpen, PortHeldByAnotherHandleIsRefused)
{
    if (RunningUnderWine()) GTEST_SKIP() << "Wine lets a port be opened twice with share mode 0";
    FramedPort holder;
    ASSERT_TRUE(holder.Open(PLAIN_PORT));
    FramedPort second;
    EXPECT_FALSE(second.Open(PLAIN_PORT));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(holder.Close());
}

TEST(FramedPortOpen, MissingPortFailsQuickly)
{
    FramedPort port;
    const double started = NowMs();
    EXPECT_FALSE(port.Open(MISSING_PORT));
    EXPECT_LT(NowMs() - started, 500.0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.Open(nullptr));
    EXPECT_FALSE(port.Open(""));
}

TEST(FramedPortClose, ClosedPortReturnsFalse)
{
    FramedPort port;
    EXPECT_FALSE(port.Close());
    ASSERT_TRUE(port.Open(SILENT_PORT));
    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close());
    EXPECT_FALSE(port.IsOpen());
}

TEST(FramedPortClose, ReopeningZeroesTheStatistics)
{
    FramedPort port;
    ASSERT_TRUE(port.Open(PLAIN_PORT));
    uint8_t request[FRAME_BUFFER_SIZE] = {};
    ASSERT_TRUE(port.SendFrame(request, BuildInfoRequest(request)));
    uint8_t reply[FRAME_BUFFER_SIZE];
    size_t length = sizeof(reply);
    ASSERT_TRUE(port.ReceiveFrame(reply, &length));
    EXPECT_EQ(port.Statistics().framesSent, 1u);
    EXPECT_EQ(port.Statistics().bytesSent, 3u + 4u);
    EXPECT_EQ(port.Statistics().goodFramesReceived, 1u);
    EXPECT_EQ(port.Statistics().bytesReceived, length + 2);
    ASSERT_TRUE(port.Close());

    ASSERT_TRUE(port.Open(PLAIN_PORT));
    const LinkStatistics& stats = port.Statistics();
    EXPECT_EQ(stats.bytesSent, 0u);
    EXPECT_EQ(stats.bytesReceived, 0u);
    EXPECT_EQ(stats.framesSent, 0u);
    EXPECT_EQ(stats.goodFramesReceived, 0u);
    EXPECT_EQ(stats.badFramesReceived, 0u);
    EXPECT_TRUE(port.Close());
}

TEST(FramedPortIo, ReadWithoutDataEndsAfterAboutOneSecond)
{
    FramedPort port;
    ASSERT_TRUE(port.Open(SILENT_PORT));
    uint8_t byte = 0;
    const double started = NowMs();
    EXPECT_FALSE(port.ReadByte(&byte));
    const double elapsed = NowMs() - started;
    EXPECT_GE(elapsed, 900.0);
    EXPECT_LE(elapsed, 1600.0);
    EXPECT_TRUE(port.Close());
}

TEST(FramedPortIo, OverlongFrameIsRefusedWithoutWriting)
{
    FramedPort port;
    ASSERT_TRUE(port.Open(SILENT_PORT));
    static uint8_t payload[MAX_FRAME_PAYLOAD + 1] = {};
    EXPECT_FALSE(port.SendFrame(payload, MAX_FRAME_PAYLOAD + 1));
    EXPECT_EQ(port.Statistics().framesSent, 0u);
    EXPECT_TRUE(port.SendFrame(payload, MAX_FRAME_PAYLOAD));
    EXPECT_EQ(port.Statistics().bytesSent, MAX_FRAME_PAYLOAD + 4);
    EXPECT_TRUE(port.Close());
}

TEST(FramedPortIo, IoOnAClosedPortFails)
{
    FramedPort port;
    uint8_t byte = 0x55;
    EXPECT_FALSE(port.WriteBytes(&byte, 1));
    EXPECT_FALSE(port.ReadByte(&byte));
}

}  // namespace
