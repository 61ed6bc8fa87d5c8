// The host window and the connection dialog without a device: a port that
// does not exist must fail the attempt at once and leave nothing running.
#include <gtest/gtest.h>

#include <windows.h>

#include "ConnectDialog.h"
#include "DialogIds.h"
#include "HostDialog.h"
#include "UiTestSupport.h"

namespace {

// No port of this name is mapped in the test prefix.
constexpr const char MISSING_PORT[] = "COM31";

// Reads the status control as the dialog is destroyed, after the outcome.
class ObservedConnectDialog : public ConnectDialog {
public:
    using ConnectDialog::ConnectDialog;
    std::wstring statusAtEnd;

protected:
    void OnDestroy() override
    {
        statusAtEnd = ControlText(GetHwnd(), CONNECT_STATUS_ID);
        ConnectDialog::OnDestroy();
    }
};

TEST(HostDialog, SendsNothingBeforeAnAttemptHasConnected)
{
    HostDialog host;
    ASSERT_TRUE(host.CreateHostWindow());
    // Not connected yet: no payload is built, no dialog shown, the counter stays.
    EXPECT_FALSE(host.SendRecord());
    EXPECT_EQ(host.recordCounter, 1);
    EXPECT_EQ(host.link.state, LINK_STOPPED);
    // An attempt on a port that does not exist does not connect either.
    EXPECT_FALSE(host.AttemptConnection(MISSING_PORT));
    EXPECT_EQ(host.portName, MISSING_PORT);
    EXPECT_FALSE(host.SendRecord());
    EXPECT_EQ(host.recordCounter, 1);
    host.DestroyHostWindow();
}

TEST(HostDialog, WindowIsHiddenFromTheHostTemplateAndGoesAway)
{
    HostDialog host;
    ASSERT_TRUE(host.CreateHostWindow());
    HWND window = host.GetHwnd();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    wchar_t caption[32] = {};
    GetWindowTextW(window, caption, 32);
    EXPECT_STREQ(caption, L"Dialog");
    host.DestroyHostWindow();
    EXPECT_EQ(host.GetHwnd(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    host.DestroyHostWindow();  // no window: nothing to do
}

TEST(ConnectDialog, MissingPortFailsAtOnceWithTheFailureTexts)
{
    HostDialog host;
    ASSERT_TRUE(host.CreateHostWindow());
    host.portName = MISSING_PORT;
    host.SetConnected(true);  // the outcome must clear it
    int threadsBefore = CountProcessThreads();
    ObservedConnectDialog dialog(host);
    // Nothing is composed before the attempt has an outcome.
    EXPECT_TRUE(dialog.statusText.empty());
    EXPECT_TRUE(dialog.detailText.empty());
    DWORD start = GetTickCount();
    EXPECT_EQ(dialog.DoModal(host.GetHwnd()), 1);
    EXPECT_LT(GetTickCount() - start, 1000u) << "a failed Start must not wait for a time-out";
    EXPECT_EQ(host.connected, 0);
    EXPECT_EQ(host.GetConnectionState(), 0);
    EXPECT_EQ(host.link.state, LINK_STOPPED);
    EXPECT_FALSE(host.link.RequestRunning());
    EXPECT_EQ(dialog.statusAtEnd, L"Connection failed!");
    EXPECT_EQ(dialog.statusText, L"连接服务器失败.");
    EXPECT_EQ(dialog.detailText,
              L"请按照如下步骤检查:\r\n1. 计算机与PDA的连接线是否稳固连接.\r\n"
              L"2. PDA的电源是否已经开启,并进入等待连接画面.\r\n"
              L"3. 进入系统菜单中的通讯设置,检查通讯端口是否已经正确设置.");
    EXPECT_EQ(WaitForThreadCount(threadsBefore, 2000), threadsBefore) << "a worker was left running";
    host.DestroyHostWindow();
}

TEST(HostDialog, FailedAttemptsLeaveTheLinkStoppedEvenWhenAlreadyConnectedBefore)
{
    HostDialog host;
    ASSERT_TRUE(host.CreateHostWindow());
    for (int32_t state : {0, CONNECTION_STATE_CONNECTED}) {
        host.SetConnectionState(state);
        EXPECT_FALSE(host.AttemptConnection(MISSING_PORT)) << "connection state " << state;
        EXPECT_EQ(host.connected, 0) << "connection state " << state;
        EXPECT_EQ(host.link.state, LINK_STOPPED) << "connection state " << state;
        EXPECT_FALSE(host.link.RequestRunning());
    }
    host.DestroyHostWindow();
    EXPECT_EQ(host.link.state, LINK_STOPPED);
}

}  // namespace
