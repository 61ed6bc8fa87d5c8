// Helpers shared by the Windows UI tests: thread counting, the message box
// a dialog opens on the test's thread, and the dialog template reader.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Threads of this process, from a Toolhelp snapshot.
int CountProcessThreads();

// Waits up to `timeoutMs` for the threads of this process to drop to
// `count` (workers take a moment to leave); returns the last count seen.
int WaitForThreadCount(int count, DWORD timeoutMs);

struct SeenMessageBox {
    bool found = false;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;
    bool hasIcon = false;
    int buttonCount = 0;
};

// Watches, from a thread of its own, for a message box on `uiThread`; reads
// it and presses its OK button. Join with Finish().
class MessageBoxWatcher {
public:
    MessageBoxWatcher(DWORD uiThread, DWORD timeoutMs);
    ~MessageBoxWatcher();
    SeenMessageBox Finish();

private:
    static DWORD WINAPI Run(LPVOID self);
    DWORD uiThread;
    DWORD timeoutMs;
    SeenMessageBox seen;
    HANDLE thread = nullptr;
};

struct TemplateControl {
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint16_t id = 0;
    uint16_t classAtom = 0;  // 0x80 button, 0x82 static; 0 when named
    std::wstring className;
    std::wstring text;
};

struct DialogTemplateInfo {
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false;
    bool hasClass = false;
    std::wstring caption;
    uint16_t pointSize = 0;
    std::wstring fontName;
    std::vector<TemplateControl> controls;
};

// Reads a classic DLGTEMPLATE. False when it is malformed or runs past `size`.
bool ParseDialogTemplate(const void* data, size_t size, DialogTemplateInfo& out);

// The text of a dialog's control, as the user sees it; empty when the
// window or the control is missing.
std::wstring ControlText(HWND dialog, int controlId);
