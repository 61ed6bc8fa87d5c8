// The dialog layer on its own: modal runs, end codes, owners, centring,
// routing of commands, keys and posted link messages, control texts and the
// warning box. Uses the module's templates, linked into this program.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <thread>

#include "LinkDialog.h"
#include "DialogIds.h"
#include "SerialLink.h"
#include "UiTestSupport.h"
#include "UiTexts.h"

namespace {

// A dialog whose handlers are set by the test.
class ScriptedDialog : public LinkDialog {
public:
    explicit ScriptedDialog(UINT templateId = CONNECT_DIALOG_TEMPLATE) : LinkDialog(templateId) {}

    std::function<void(ScriptedDialog&)> onInit;
    std::function<void(ScriptedDialog&, WPARAM, LPARAM)> onLinkDone;
    std::function<void(ScriptedDialog&)> onTimer;
    int destroyCalls = 0;

protected:
    BOOL OnInitDialog() override
    {
        if (onInit) onInit(*this);
        return TRUE;
    }
    void OnLinkDone(WPARAM wParam, LPARAM lParam) override
    {
        if (onLinkDone) onLinkDone(*this, wParam, lParam);
    }
    void OnTimer(UINT_PTR) override
    {
        if (onTimer) onTimer(*this);
    }
    void OnDestroy() override { ++destroyCalls; }
};

constexpr UINT_PTR TEST_TIMER = 77;

TEST(ModalDialog, EndDialogDuringInitialisationGivesTheCode)
{
    ScriptedDialog dialog;
    bool wasVisible = true;
    dialog.onInit = [&](ScriptedDialog& d) {
        wasVisible = IsWindowVisible(d.GetHwnd()) != FALSE;
        d.EndDialog(7);
    };
    EXPECT_EQ(dialog.DoModal(), 7);
    EXPECT_FALSE(wasVisible);
    EXPECT_EQ(dialog.destroyCalls, 1);
    EXPECT_EQ(dialog.GetHwnd(), nullptr);
}

TEST(ModalDialog, DefaultCommandsEndWithOneAndTwo)
{
    for (WORD command : {static_cast<WORD>(IDOK), static_cast<WORD>(IDCANCEL)}) {
        ScriptedDialog dialog;
        dialog.onInit = [command](ScriptedDialog& d) {
            PostMessageW(d.GetHwnd(), WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
        };
        EXPECT_EQ(dialog.DoModal(), command == IDOK ? 1 : 2);
    }
}

TEST(ModalDialog, EnterAndEscapeEndWithOneAndTwo)
{
    for (WPARAM key : {static_cast<WPARAM>(VK_RETURN), static_cast<WPARAM>(VK_ESCAPE)}) {
        ScriptedDialog dialog;
        dialog.onInit = [key](ScriptedDialog& d) { PostMessageW(d.GetHwnd(), WM_KEYDOWN, key, 0); };
        EXPECT_EQ(dialog.DoModal(), key == VK_RETURN ? 1 : 2) << "key " << key;
    }
}

TEST(ModalDialog, CloseRequestCancelsByDefault)
{
    ScriptedDialog dialog;
    dialog.onInit = [](ScriptedDialog& d) { PostMessageW(d.GetHwnd(), WM_CLOSE, 0, 0); };
    EXPECT_EQ(dialog.DoModal(), 2);
}

TEST(ModalDialog, LinkDonePostedFromAnotherThreadReachesTheHandler)
{
    ScriptedDialog dialog;
    std::thread worker;
    WPARAM seenW = 0;
    LPARAM seenL = 0;
    DWORD handlerThread = 0;
    dialog.onInit = [&](ScriptedDialog& d) {
        HWND window = d.GetHwnd();
        worker = std::thread([window] { PostMessageA(window, WM_LINK_DONE, 1, 0x1234); });
    };
    dialog.onLinkDone = [&](ScriptedDialog& d, WPARAM w, LPARAM l) {
        seenW = w;
        seenL = l;
        handlerThread = GetCurrentThreadId();
        d.EndDialog(3);
    };
    EXPECT_EQ(dialog.DoModal(), 3);
    worker.join();
    EXPECT_EQ(seenW, 1u);
    EXPECT_EQ(seenL, 0x1234);
    EXPECT_EQ(handlerThread, GetCurrentThreadId());
}

TEST(ModalDialog, IsCentredOnTheWorkAreaWhenTheOwnerIsHidden)
{
    ScriptedDialog host(HOST_DIALOG_TEMPLATE);
    ASSERT_TRUE(host.Create());
    ASSERT_FALSE(IsWindowVisible(host.GetHwnd()));
    ScriptedDialog dialog;
    RECT shown = {};
    HWND owner = nullptr;
    dialog.onInit = [&](ScriptedDialog& d) { SetTimer(d.GetHwnd(), TEST_TIMER, 10, nullptr); };
    dialog.onTimer = [&](ScriptedDialog& d) {
        KillTimer(d.GetHwnd(), TEST_TIMER);
        GetWindowRect(d.GetHwnd(), &shown);
        owner = GetWindow(d.GetHwnd(), GW_OWNER);
        d.EndDialog(1);
    };
    EXPECT_EQ(dialog.DoModal(host.GetHwnd()), 1);
    EXPECT_EQ(owner, host.GetHwnd());
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor));
    const RECT& work = monitor.rcWork;
    LONG centreX = (shown.left + shown.right) / 2;
    LONG centreY = (shown.top + shown.bottom) / 2;
    EXPECT_NEAR(centreX, (work.left + work.right) / 2, 1);
    EXPECT_NEAR(centreY, (work.top + work.bottom) / 2, 1);
    EXPECT_GT(shown.right - shown.left, 0);
    EXPECT_TRUE(host.DestroyWindow());
}

TEST(ModalDialog, DisablesTheOwnerAndItsTopLevelOwnerWhileItRuns)
{
    HWND main = CreateWindowExW(0, L"STATIC", L"main", WS_POPUP | WS_VISIBLE, 10, 10, 200, 100, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(main, nullptr);
    ScriptedDialog host(HOST_DIALOG_TEMPLATE);
    ASSERT_TRUE(host.Create(main));
    ASSERT_EQ(GetWindow(host.GetHwnd(), GW_OWNER), main);
    bool hostEnabled = true, mainEnabled = true;
    ScriptedDialog dialog;
    dialog.onInit = [&](ScriptedDialog& d) { SetTimer(d.GetHwnd(), TEST_TIMER, 10, nullptr); };
    dialog.onTimer = [&](ScriptedDialog& d) {
        KillTimer(d.GetHwnd(), TEST_TIMER);
        hostEnabled = IsWindowEnabled(host.GetHwnd()) != FALSE;
        mainEnabled = IsWindowEnabled(main) != FALSE;
        d.EndDialog(1);
    };
    EXPECT_EQ(dialog.DoModal(host.GetHwnd()), 1);
    EXPECT_FALSE(hostEnabled);
    EXPECT_FALSE(mainEnabled);
    EXPECT_TRUE(IsWindowEnabled(host.GetHwnd()));
    EXPECT_TRUE(IsWindowEnabled(main));
    host.DestroyWindow();
    DestroyWindow(main);
}

TEST(ModelessDialog, IsHiddenAndOwnsItsWindowUntilDestroyed)
{
    ScriptedDialog host(HOST_DIALOG_TEMPLATE);
    ASSERT_TRUE(host.Create());
    HWND window = host.GetHwnd();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(host.Create()) << "a second window for the same object";
    EXPECT_EQ(ControlText(host.GetHwnd(), HOST_WAIT_BUTTON_ID), L"Wait...");
    EXPECT_TRUE(host.DestroyWindow());
    EXPECT_EQ(host.destroyCalls, 1);
    EXPECT_EQ(host.GetHwnd(), nullptr);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(host.DestroyWindow());
}

TEST(ModelessDialog, DestructorDestroysAWindowLeftOpen)
{
    HWND window;
    {
        ScriptedDialog host(HOST_DIALOG_TEMPLATE);
        ASSERT_TRUE(host.Create());
        window = host.GetHwnd();
    }
    EXPECT_FALSE(IsWindow(window));
}

TEST(ControlText, ChineseTextsGoInAsUtf16)
{
    ScriptedDialog dialog(TRANSFER_DIALOG_TEMPLATE);
    std::wstring label, percent;
    bool missingControl = true;
    dialog.onInit = [&](ScriptedDialog& d) {
        EXPECT_TRUE(d.SetItemText(TRANSFER_LABEL_ID, LINE_FAULT_MESSAGE));
        EXPECT_TRUE(d.SetItemText(TRANSFER_PERCENT_ID, std::wstring(L"37%")));
        missingControl = d.SetItemText(12345, "x");
        label = ControlText(d.GetHwnd(), TRANSFER_LABEL_ID);
        percent = ControlText(d.GetHwnd(), TRANSFER_PERCENT_ID);
        d.EndDialog(1);
    };
    EXPECT_EQ(dialog.DoModal(), 1);
    EXPECT_EQ(label, L"线路故障，请检查线路！");
    EXPECT_EQ(percent, L"37%");
    EXPECT_FALSE(missingControl);
}

TEST(WarningBox, IsOwnedByTheDialogCaptionedWithTheTitleAndHasOneButton)
{
    ScriptedDialog dialog(TRANSFER_DIALOG_TEMPLATE);
    MessageBoxWatcher watcher(GetCurrentThreadId(), 10000);
    HWND dialogWindow = nullptr;
    int boxResult = 0;
    dialog.onInit = [&](ScriptedDialog& d) {
        dialogWindow = d.GetHwnd();
        boxResult = d.ShowWarning(RECORD_REFUSED_MESSAGE);
        d.EndDialog(1);
    };
    EXPECT_EQ(dialog.DoModal(), 1);
    SeenMessageBox seen = watcher.Finish();
    ASSERT_TRUE(seen.found) << "no message box appeared within 10 s";
    EXPECT_EQ(boxResult, IDOK);
    EXPECT_EQ(seen.owner, dialogWindow);
    EXPECT_EQ(seen.caption, L"ui_dialog_test");
    EXPECT_EQ(seen.text, L"此纪录数据传送失败");
    EXPECT_TRUE(seen.hasIcon);
    EXPECT_EQ(seen.buttonCount, 1);
}

}  // namespace
