#include "DialogWatch.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CallOutcome.h"
#include "CallerWindow.h"
#include "DialogIds.h"
#include "HostOptions.h"
#include "Screenshot.h"

namespace {

// The id of a message box's text: the static control that MessageBox makes.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr UINT PRESS_DELAY_MS = 150;
constexpr UINT SCREENSHOT_DELAY_MS = 300;
constexpr UINT_PTR TIMER_ANSWER = 0x1D01;
constexpr UINT_PTR TIMER_PRESS_ESCAPE = 0x1D02;
constexpr UINT_PTR TIMER_PRESS_ENTER = 0x1D03;
constexpr UINT_PTR TIMER_SCREENSHOT = 0x1D04;

DWORD startTick = 0;
int connectCount = 0;
int transferCount = 0;
int boxCount = 0;

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::string WindowText(HWND window)
{
    wchar_t buffer[1024];
    int length = GetWindowTextW(window, buffer, 1024);
    return ToUtf8(std::wstring(buffer, static_cast<size_t>(length > 0 ? length : 0)));
}

std::string ControlText(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? WindowText(control) : std::string();
}

bool IsDialogWindow(HWND window)
{
    wchar_t name[16];
    return GetClassNameW(window, name, 16) > 0 && std::wcscmp(name, L"#32770") == 0;
}

struct PendingShot {
    HWND window;
    std::string path;
};
std::vector<PendingShot> pendingShots;

void CALLBACK OnDialogTimer(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    if (!IsWindow(window)) return;
    switch (id) {
    case TIMER_ANSWER: PostMessageW(window, WM_COMMAND, IDOK, 0); break;
    case TIMER_PRESS_ESCAPE: PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0); break;
    case TIMER_PRESS_ENTER: PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0); break;
    case TIMER_SCREENSHOT:
        for (auto it = pendingShots.begin(); it != pendingShots.end(); ++it) {
            if (it->window != window) continue;
            if (SaveScreenshot(window, it->path)) Log("screenshot %s", it->path.c_str());
            pendingShots.erase(it);
            break;
        }
        break;
    default: break;
    }
}

void ScheduleScreenshot(HWND window, DialogKind kind, int occurrence)
{
    if (options.screenshotDir.empty()) return;
    char name[64];
    std::snprintf(name, sizeof name, "\\%s-%d.bmp", KindName(kind), occurrence);
    pendingShots.push_back({window, options.screenshotDir + name});
    SetTimer(window, TIMER_SCREENSHOT, SCREENSHOT_DELAY_MS, OnDialogTimer);
}

void SchedulePress(HWND window, DialogKind kind, int occurrence)
{
    for (const Press& press : options.presses) {
        if (press.where != kind || press.occurrence != occurrence) continue;
        Log("press %s in %s %d", press.key.c_str(), KindName(kind), occurrence);
        if (kind == DialogKind::TRANSFER) outcome.abandoned.insert(outcome.currentRecord);
        SetTimer(window, press.key == "escape" ? TIMER_PRESS_ESCAPE : TIMER_PRESS_ENTER, PRESS_DELAY_MS, OnDialogTimer);
    }
}
// Sees every window of this thread being activated: the DLL's dialogs and
// message boxes all run modally on the calling thread.
LRESULT CALLBACK OnCbtEvent(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        if (IsDialogWindow(window) && GetPropW(window, L"imexhost.seen") == nullptr) {
            SetPropW(window, L"imexhost.seen", reinterpret_cast<HANDLE>(1));
            if (callerWindow != nullptr && window != callerWindow &&
                (GetDlgItem(window, CONNECT_STATUS_ID) != nullptr || GetDlgItem(window, TRANSFER_LABEL_ID) != nullptr))
                Log("owner while dialog is up: enabled %d", IsWindowEnabled(callerWindow) ? 1 : 0);
            if (GetDlgItem(window, CONNECT_STATUS_ID) != nullptr) {
                int n = ++connectCount;
                if (options.logDialogs)
                    Log("dialog connect %d \"%s\"", n, ControlText(window, CONNECT_STATUS_ID).c_str());
                SchedulePress(window, DialogKind::CONNECT, n);
                ScheduleScreenshot(window, DialogKind::CONNECT, n);
            } else if (GetDlgItem(window, TRANSFER_LABEL_ID) != nullptr) {
                int n = ++transferCount;
                // Without a callback the dialogs are what counts the records.
                if (options.nullCallback) outcome.records = outcome.currentRecord = outcome.currentRecord + 1;
                if (options.logDialogs)
                    Log("dialog transfer %d \"%s\" \"%s\"", n, ControlText(window, TRANSFER_LABEL_ID).c_str(),
                        ControlText(window, TRANSFER_PERCENT_ID).c_str());
                SchedulePress(window, DialogKind::TRANSFER, n);
                ScheduleScreenshot(window, DialogKind::TRANSFER, n);
            } else if (GetDlgItem(window, MESSAGE_BOX_TEXT_ID) != nullptr) {
                int n = ++boxCount;
                const std::string text = ControlText(window, MESSAGE_BOX_TEXT_ID);
                CountBox(text);
                if (options.answerBoxes) {
                    Log("box \"%s\" \"%s\"", WindowText(window).c_str(), text.c_str());
                    SetTimer(window, TIMER_ANSWER, options.answerDelayMs, OnDialogTimer);
                }
                ScheduleScreenshot(window, DialogKind::BOX, n);
            }
        }
    } else if (code == HCBT_DESTROYWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        // By the time a dialog of the DLL is destroyed, the caller's window
        // must be usable again and hold the activation.
        if (callerWindow != nullptr && GetPropW(window, L"imexhost.seen") != nullptr) {
            const char* kind = GetDlgItem(window, CONNECT_STATUS_ID) != nullptr   ? "connect"
                               : GetDlgItem(window, TRANSFER_LABEL_ID) != nullptr ? "transfer"
                                                                                  : nullptr;
            if (kind != nullptr)
                Log("owner at end of %s: enabled %d active %d", kind, IsWindowEnabled(callerWindow) ? 1 : 0,
                    GetActiveWindow() == callerWindow ? 1 : 0);
        }
        RemovePropW(window, L"imexhost.seen");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void StartLogClock()
{
    startTick = GetTickCount();
}

void Log(const char* format, ...)
{
    std::printf("[%.3f] ", (GetTickCount() - startTick) / 1000.0);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

HHOOK WatchDialogs()
{
    HHOOK hook = SetWindowsHookExW(WH_CBT, OnCbtEvent, nullptr, GetCurrentThreadId());
    if (hook == nullptr) std::fprintf(stderr, "imexhost: cannot watch dialogs (error %lu)\n", GetLastError());
    return hook;
}
