#include "CallerWindow.h"

#include <cstdio>

#include "DialogWatch.h"
#include "HostOptions.h"

HWND callerWindow = nullptr;
HWND callerMain = nullptr;

// A visible, active top-level window, as a desktop program calling ImEx
// has: the DLL's host window and dialogs end up owned by it. Nested: that
// window is a dialog of the program's main window, which it keeps
// disabled, as a program calls from its own modal dialog.
HWND CreateCallerWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"imexhost.caller";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"imexhost", WS_OVERLAPPEDWINDOW, 100, 100, 400, 300,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "imexhost: cannot create the caller's window (error %lu)\n", GetLastError());
        return nullptr;
    }
    ShowWindow(window, SW_SHOW);
    if (options.nestedOwner) {
        callerMain = window;
        window =
            CreateWindowExW(WS_EX_DLGMODALFRAME, windowClass.lpszClassName, L"imexhost dialog", WS_POPUP | WS_CAPTION,
                            150, 150, 300, 200, callerMain, nullptr, windowClass.hInstance, nullptr);
        if (window == nullptr) {
            std::fprintf(stderr, "imexhost: cannot create the caller's dialog (error %lu)\n", GetLastError());
            return nullptr;
        }
        EnableWindow(callerMain, FALSE);
        ShowWindow(window, SW_SHOW);
    }
    SetForegroundWindow(window);
    SetActiveWindow(window);
    Log("owner before the calls: enabled %d active %d", IsWindowEnabled(window) ? 1 : 0,
        GetActiveWindow() == window ? 1 : 0);
    return window;
}

void CloseCallerWindow()
{
    if (callerWindow == nullptr) return;
    Log("owner after the calls: enabled %d active %d", IsWindowEnabled(callerWindow) ? 1 : 0,
        GetActiveWindow() == callerWindow ? 1 : 0);
    DestroyWindow(callerWindow);
    if (callerMain != nullptr) {
        Log("main window after the calls: enabled %d", IsWindowEnabled(callerMain) ? 1 : 0);
        DestroyWindow(callerMain);
    }
}
