#include "Dialog.h"

#include "ResourceModule.h"
#include "WideText.h"

Dialog::Dialog(UINT templateId) : templateId(templateId) {}

Dialog::~Dialog()
{
    if (window != nullptr) {
        HWND closing = window;
        window = nullptr;
        // Another thread's window cannot be destroyed from here without
        // waiting for that thread (the module may be unloading under the
        // loader lock): it is left to that thread's own end.
        if (GetWindowThreadProcessId(closing, nullptr) != GetCurrentThreadId()) return;
        // Detach first: the derived part of this object no longer exists.
        SetWindowLongPtrW(closing, DWLP_USER, 0);
        ::DestroyWindow(closing);
    }
}

bool Dialog::IsOwnWindow() const
{
    return window != nullptr && GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

bool Dialog::Create(HWND owner)
{
    if (window != nullptr) return false;
    if (owner == nullptr) owner = GetActiveWindow();
    modal = false;
    HWND created = CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(templateId), owner, DialogProc,
                                      reinterpret_cast<LPARAM>(this));
    return created != nullptr;
}

INT_PTR Dialog::DoModal(HWND owner)
{
    if (window != nullptr) return -1;
    if (owner == nullptr) owner = GetActiveWindow();
    // The dialog manager disables the owner itself; the window that owns the
    // owner (the caller's window behind our hidden host, itself perhaps a
    // dialog of the caller's) is ours to do.
    HWND topOwner = owner ? GetWindow(owner, GW_OWNER) : nullptr;
    bool disableTop = topOwner != nullptr && IsWindowEnabled(topOwner);
    if (disableTop) EnableWindow(topOwner, FALSE);
    modalTopOwner = topOwner;
    topOwnerDisabled = disableTop;
    modal = true;
    INT_PTR code = DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(templateId), owner, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    modal = false;
    // Normally done by EndDialog already; this covers a dialog that could
    // not be created or was ended another way.
    if (topOwnerDisabled) EnableWindow(topOwner, TRUE);
    modalTopOwner = nullptr;
    topOwnerDisabled = false;
    return code;
}

bool Dialog::DestroyWindow()
{
    return window != nullptr && ::DestroyWindow(window) != FALSE;
}

void Dialog::EndDialog(INT_PTR code)
{
    if (window == nullptr) return;
    if (modal) HandBackActivation();
    ::EndDialog(window, code);
}

void Dialog::HandBackActivation()
{
    // Before the window goes: hide it, enable the owners, and give the
    // activation to the top-level owner (the caller's window). Done after
    // the window is destroyed, as the dialog manager alone would, the
    // system has already activated some other program's window, and the
    // caller's window or the next dialog can end up behind it.
    const bool wasActive = GetActiveWindow() == window;
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    HWND owner = GetWindow(window, GW_OWNER);
    if (owner != nullptr) EnableWindow(owner, TRUE);
    if (topOwnerDisabled) {
        EnableWindow(modalTopOwner, TRUE);
        topOwnerDisabled = false;
    }
    // Only a window the user can use takes it: not our hidden host with no
    // caller's window above it, nor a caller's window that something else
    // keeps disabled.
    HWND next = modalTopOwner != nullptr ? modalTopOwner : owner;
    if (wasActive && next != nullptr && IsWindowVisible(next) && IsWindowEnabled(next)) SetActiveWindow(next);
}

bool Dialog::SetItemText(int controlId, const char* utf8Text)
{
    return SetItemText(controlId, WideFromUtf8(utf8Text));
}

bool Dialog::SetItemText(int controlId, const std::wstring& text)
{
    return window != nullptr && SetDlgItemTextW(window, controlId, text.c_str()) != FALSE;
}

int Dialog::ShowWarning(const char* utf8Text)
{
    std::wstring caption = ApplicationTitle();
    return MessageBoxW(window, WideFromUtf8(utf8Text).c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

BOOL Dialog::OnInitDialog()
{
    return TRUE;
}
void Dialog::OnOK()
{
    EndDialog(IDOK);
}
void Dialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
void Dialog::OnClose()
{
    OnCancel();
}
void Dialog::OnDestroy() {}
bool Dialog::OnMessage(UINT, WPARAM, LPARAM)
{
    return false;
}
void Dialog::OnTimer(UINT_PTR) {}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        if (modal) CentreOnOwnerOrWorkArea();
        return OnInitDialog();
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE: OnClose(); return TRUE;
    case WM_DESTROY: OnDestroy(); return FALSE;  // the dialog manager cleans up too
    case WM_TIMER: OnTimer(wParam); return TRUE;
    default: return OnMessage(message, wParam, lParam) ? TRUE : FALSE;
    }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Dialog* dialog;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<Dialog*>(lParam);
        dialog->window = window;
        SetWindowLongPtrW(window, DWLP_USER, lParam);
    } else {
        dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (dialog == nullptr) return FALSE;  // before WM_INITDIALOG, or after detaching
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        dialog->window = nullptr;
        return FALSE;
    }
    return dialog->Dispatch(message, wParam, lParam);
}

void Dialog::CentreOnOwnerOrWorkArea()
{
    RECT own;
    if (!GetWindowRect(window, &own)) return;
    HWND owner = GetWindow(window, GW_OWNER);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(owner ? owner : window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        return;
    }
    const RECT& work = monitor.rcWork;
    RECT area = work;
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &area);
    LONG width = own.right - own.left;
    LONG height = own.bottom - own.top;
    LONG x = area.left + ((area.right - area.left) - width) / 2;
    LONG y = area.top + ((area.bottom - area.top) - height) / 2;
    // Keep it on the work area even when the owner sits at an edge.
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
