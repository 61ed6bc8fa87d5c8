// imexhost: a small console host for imex.dll, for people and tests.
// It loads the DLL, calls ImEx on a record file and reports what happened:
// one "progress K/N" line per callback and a "result R: <meaning>" line per
// call; the exit code is the last result. Options make it watch and drive
// the DLL's dialogs the way a person would: read them, answer message
// boxes, press Enter or Escape, take screenshots.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DialogIds.h"
#include "imex.h"

namespace {

const char* ResultMeaning(int result) {
    switch (result) {
        case IMEX_RESULT_OK: return "done (every record handled, or the mode is not served)";
        case IMEX_RESULT_BUSY: return "busy: a transfer is already running in this process";
        case IMEX_RESULT_CANNOT_OPEN: return "the record file cannot be opened";
        case IMEX_RESULT_BAD_FILE: return "the record file is not valid";
        case IMEX_RESULT_NO_MEMORY: return "the record table cannot be allocated";
        case IMEX_RESULT_NOT_CONNECTED: return "no device connected";
        case IMEX_RESULT_NO_DEVICE: return "no device answered on COM1 or COM2";
        default: return "unknown result";
    }
}

// The id of a message box's text: the static control that MessageBox makes.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr UINT PRESS_DELAY_MS = 150;
constexpr UINT SCREENSHOT_DELAY_MS = 300;
constexpr UINT_PTR TIMER_ANSWER = 0x1D01;
constexpr UINT_PTR TIMER_PRESS_ESCAPE = 0x1D02;
constexpr UINT_PTR TIMER_PRESS_ENTER = 0x1D03;
constexpr UINT_PTR TIMER_SCREENSHOT = 0x1D04;

enum class DialogKind { CONNECT, TRANSFER, BOX };

const char* KindName(DialogKind kind) {
    switch (kind) {
        case DialogKind::CONNECT: return "connect";
        case DialogKind::TRANSFER: return "transfer";
        default: return "box";
    }
}

struct Press {
    std::string key;    // "escape" or "enter"
    DialogKind where;   // CONNECT or TRANSFER
    int occurrence;     // 1-based count of that dialog kind in the process
};

struct Options {
    std::string dllPath;
    int mode = IMEX_MODE_TRANSFER;
    bool nullCallback = false;
    int repeat = 1;
    bool answerBoxes = false;
    UINT answerDelayMs = 200;
    bool logDialogs = false;
    std::vector<Press> presses;
    bool reenter = false;
    bool reenterThread = false;
    bool reportHandles = false;
    bool ownerWindow = false;
    bool nestedOwner = false;  // the caller's window is a modal dialog of its main window
    int exitInCallback = 0;   // block whose callback ends the process at once
    int exitFromThread = 0;   // block whose callback lets another thread end the process
    std::string screenshotDir;
    const char* recordFile = nullptr;
};

Options options;
IMEX_FUNCTION imEx = nullptr;
DWORD startTick = 0;
int connectCount = 0;
int transferCount = 0;
int boxCount = 0;
bool reentered = false;
HWND callerWindow = nullptr;  // --owner-window: the caller's own visible top-level window
HWND callerMain = nullptr;    // --owner-window=nested: the main window behind it

void Log(const char* format, ...) {
    std::printf("[%.3f] ", (GetTickCount() - startTick) / 1000.0);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

std::string WindowText(HWND window) {
    wchar_t buffer[1024];
    int length = GetWindowTextW(window, buffer, 1024);
    return ToUtf8(std::wstring(buffer, static_cast<size_t>(length > 0 ? length : 0)));
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr ? WindowText(control) : std::string();
}

bool IsDialogWindow(HWND window) {
    wchar_t name[16];
    return GetClassNameW(window, name, 16) > 0 && std::wcscmp(name, L"#32770") == 0;
}

// Writes the window's pixels, as the screen shows them, to a BMP file.
bool SaveScreenshot(HWND window, const std::string& path) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) return false;
    int width = rect.right - rect.left;
    int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        SelectObject(memory, old);
        DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
        DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file != nullptr) {
            saved = std::fwrite(&header, sizeof header, 1, file) == 1 &&
                    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, file) == 1 &&
                    std::fwrite(bits, imageSize, 1, file) == 1;
            std::fclose(file);
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

struct PendingShot {
    HWND window;
    std::string path;
};
std::vector<PendingShot> pendingShots;

void CALLBACK OnDialogTimer(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    if (!IsWindow(window)) return;
    switch (id) {
        case TIMER_ANSWER:
            PostMessageW(window, WM_COMMAND, IDOK, 0);
            break;
        case TIMER_PRESS_ESCAPE:
            PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
            break;
        case TIMER_PRESS_ENTER:
            PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
            break;
        case TIMER_SCREENSHOT:
            for (auto it = pendingShots.begin(); it != pendingShots.end(); ++it) {
                if (it->window != window) continue;
                if (SaveScreenshot(window, it->path)) Log("screenshot %s", it->path.c_str());
                pendingShots.erase(it);
                break;
            }
            break;
        default:
            break;
    }
}

void ScheduleScreenshot(HWND window, DialogKind kind, int occurrence) {
    if (options.screenshotDir.empty()) return;
    char name[64];
    std::snprintf(name, sizeof name, "\\%s-%d.bmp", KindName(kind), occurrence);
    pendingShots.push_back({window, options.screenshotDir + name});
    SetTimer(window, TIMER_SCREENSHOT, SCREENSHOT_DELAY_MS, OnDialogTimer);
}

void SchedulePress(HWND window, DialogKind kind, int occurrence) {
    for (const Press& press : options.presses) {
        if (press.where != kind || press.occurrence != occurrence) continue;
        Log("press %s in %s %d", press.key.c_str(), KindName(kind), occurrence);
        SetTimer(window, press.key == "escape" ? TIMER_PRESS_ESCAPE : TIMER_PRESS_ENTER,
                 PRESS_DELAY_MS, OnDialogTimer);
    }
}

// Sees every window of this thread being activated: the DLL's dialogs and
// message boxes all run modally on the calling thread.
LRESULT CALLBACK OnCbtEvent(int code, WPARAM wParam, LPARAM lParam) {
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
                if (options.logDialogs)
                    Log("dialog transfer %d \"%s\" \"%s\"", n,
                        ControlText(window, TRANSFER_LABEL_ID).c_str(),
                        ControlText(window, TRANSFER_PERCENT_ID).c_str());
                SchedulePress(window, DialogKind::TRANSFER, n);
                ScheduleScreenshot(window, DialogKind::TRANSFER, n);
            } else if (GetDlgItem(window, MESSAGE_BOX_TEXT_ID) != nullptr) {
                int n = ++boxCount;
                if (options.answerBoxes) {
                    Log("box \"%s\" \"%s\"", WindowText(window).c_str(),
                        ControlText(window, MESSAGE_BOX_TEXT_ID).c_str());
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

DWORD WINAPI ReenterFromThread(void*) {
    int result = imEx(0, 0, 0, options.recordFile, 0, options.mode, nullptr);
    std::printf("reentry-thread result %d\n", result);
    std::fflush(stdout);
    return 0;
}

DWORD WINAPI ExitFromThread(void*) {
    // Lets the record's dialog come up and its request start first.
    Sleep(300);
    std::printf("exiting from another thread\n");
    std::fflush(stdout);
    ExitProcess(43);
}

void WINAPI OnProgress(int block, int blockCount) {
    std::printf("progress %d/%d\n", block, blockCount);
    std::fflush(stdout);
    if (block == options.exitInCallback) {
        std::printf("exiting in the callback\n");
        std::fflush(stdout);
        ExitProcess(42);
    }
    if (block == options.exitFromThread) {
        HANDLE thread = CreateThread(nullptr, 0, ExitFromThread, nullptr, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
    }
    if (reentered) return;
    reentered = true;
    if (options.reenter) {
        int result = imEx(0, 0, 0, options.recordFile, 0, options.mode, OnProgress);
        std::printf("reentry result %d\n", result);
        std::fflush(stdout);
    }
    if (options.reenterThread) {
        HANDLE thread = CreateThread(nullptr, 0, ReenterFromThread, nullptr, 0, nullptr);
        if (thread != nullptr) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        }
    }
}

// A visible, active top-level window, as a desktop program calling ImEx
// has: the DLL's host window and dialogs end up owned by it. Nested: that
// window is a dialog of the program's main window, which it keeps
// disabled, as a program calls from its own modal dialog.
HWND CreateCallerWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"imexhost.caller";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"imexhost", WS_OVERLAPPEDWINDOW, 100, 100,
                                  400, 300, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "imexhost: cannot create the caller's window (error %lu)\n", GetLastError());
        return nullptr;
    }
    ShowWindow(window, SW_SHOW);
    if (options.nestedOwner) {
        callerMain = window;
        window = CreateWindowExW(WS_EX_DLGMODALFRAME, windowClass.lpszClassName, L"imexhost dialog",
                                 WS_POPUP | WS_CAPTION, 150, 150, 300, 200, callerMain, nullptr,
                                 windowClass.hInstance, nullptr);
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

// GetProcessHandleCount is not implemented by every Windows emulation, so
// the handle table is probed instead: every valid handle answers.
unsigned CountHandles() {
    unsigned count = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

unsigned CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    unsigned count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

void Usage() {
    std::fprintf(stderr,
        "usage: imexhost [options] RECORD_FILE\n"
        "  Calls ImEx(0, 0, 0, RECORD_FILE, 0, mode, callback) from imex.dll and prints\n"
        "  \"progress K/N\" per callback and \"result R: <meaning>\" per call; exits with R.\n"
        "  --dll PATH            imex.dll to load (default: beside imexhost.exe)\n"
        "  --mode N              mode argument (default 1)\n"
        "  --null-callback       pass no progress callback\n"
        "  --repeat N            call ImEx N times in this process\n"
        "  --answer-boxes[=MS]   log each message box and answer it with OK after MS ms (200)\n"
        "  --log-dialogs         log each connection and transfer dialog with its texts\n"
        "  --press KEY@WHERE[:N] press escape or enter in the N-th connect or transfer dialog\n"
        "  --reenter             call ImEx again from inside the first progress callback\n"
        "  --reenter-thread      the same from a second thread\n"
        "  --report-handles      print handle and thread counts before, after each call and after\n"
        "  --screenshots DIR     save each dialog and box as DIR\\<kind>-<n>.bmp\n"
        "  --owner-window[=nested] call from a visible, active window of our own (nested: a dialog\n"
        "                        of our main window, which it keeps disabled) and log whether it is\n"
        "                        disabled while each dialog is up, enabled and active at its end\n"
        "  --exit-in-callback K  end the process (exit code 42) in the callback of block K\n"
        "  --exit-from-thread K  in the callback of block K, start a thread that ends the process\n"
        "                        (exit code 43) 300 ms later, while that block's record is sent\n"
        "  Exit 100: the DLL cannot be loaded; 101: bad usage.\n");
}

bool ParsePress(const std::string& text, Press* press) {
    size_t at = text.find('@');
    if (at == std::string::npos) return false;
    press->key = text.substr(0, at);
    if (press->key != "escape" && press->key != "enter") return false;
    std::string where = text.substr(at + 1);
    press->occurrence = 1;
    size_t colon = where.find(':');
    if (colon != std::string::npos) {
        press->occurrence = std::atoi(where.c_str() + colon + 1);
        where = where.substr(0, colon);
    }
    if (where == "connect") press->where = DialogKind::CONNECT;
    else if (where == "transfer") press->where = DialogKind::TRANSFER;
    else return false;
    return press->occurrence > 0;
}

bool ParseArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--dll" && hasValue) {
            options.dllPath = argv[++i];
        } else if (arg == "--mode" && hasValue) {
            options.mode = std::atoi(argv[++i]);
        } else if (arg == "--null-callback") {
            options.nullCallback = true;
        } else if (arg == "--repeat" && hasValue) {
            options.repeat = std::atoi(argv[++i]);
            if (options.repeat < 1) return false;
        } else if (arg == "--answer-boxes") {
            options.answerBoxes = true;
        } else if (arg.rfind("--answer-boxes=", 0) == 0) {
            options.answerBoxes = true;
            options.answerDelayMs = static_cast<UINT>(std::atoi(arg.c_str() + 15));
        } else if (arg == "--log-dialogs") {
            options.logDialogs = true;
        } else if (arg == "--press" && hasValue) {
            Press press;
            if (!ParsePress(argv[++i], &press)) return false;
            options.presses.push_back(press);
        } else if (arg == "--reenter") {
            options.reenter = true;
        } else if (arg == "--reenter-thread") {
            options.reenterThread = true;
        } else if (arg == "--report-handles") {
            options.reportHandles = true;
        } else if (arg == "--owner-window") {
            options.ownerWindow = true;
        } else if (arg == "--owner-window=nested") {
            options.ownerWindow = true;
            options.nestedOwner = true;
        } else if (arg == "--exit-in-callback" && hasValue) {
            options.exitInCallback = std::atoi(argv[++i]);
            if (options.exitInCallback < 1) return false;
        } else if (arg == "--exit-from-thread" && hasValue) {
            options.exitFromThread = std::atoi(argv[++i]);
            if (options.exitFromThread < 1) return false;
        } else if (arg == "--screenshots" && hasValue) {
            options.screenshotDir = argv[++i];
            CreateDirectoryA(options.screenshotDir.c_str(), nullptr);
        } else if (arg.rfind("--", 0) == 0 || options.recordFile != nullptr) {
            return false;
        } else {
            options.recordFile = argv[i];
        }
    }
    return options.recordFile != nullptr;
}

std::string DefaultDllPath() {
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    size_t slash = path.find_last_of("\\/");
    path = (slash == std::string::npos) ? std::string() : path.substr(0, slash + 1);
    return path + "imex.dll";
}

}  // namespace

int main(int argc, char** argv) {
    startTick = GetTickCount();
    if (!ParseArguments(argc, argv)) {
        Usage();
        return 101;
    }
    if (options.dllPath.empty()) options.dllPath = DefaultDllPath();

    HMODULE dll = LoadLibraryA(options.dllPath.c_str());
    if (dll == nullptr) {
        std::fprintf(stderr, "imexhost: cannot load %s (error %lu)\n", options.dllPath.c_str(),
                     GetLastError());
        return 100;
    }
    imEx = reinterpret_cast<IMEX_FUNCTION>(reinterpret_cast<void*>(GetProcAddress(dll, "ImEx")));
    if (imEx == nullptr) {
        std::fprintf(stderr, "imexhost: %s exports no ImEx\n", options.dllPath.c_str());
        FreeLibrary(dll);
        return 100;
    }

    // The hook costs every window of a transfer a round of calls, so it is
    // set only when something watches or drives the dialogs.
    const bool watchDialogs = options.logDialogs || options.answerBoxes || !options.presses.empty() ||
                              !options.screenshotDir.empty() || options.ownerWindow;
    if (options.ownerWindow) callerWindow = CreateCallerWindow();
    HHOOK hook = nullptr;
    if (watchDialogs) {
        hook = SetWindowsHookExW(WH_CBT, OnCbtEvent, nullptr, GetCurrentThreadId());
        if (hook == nullptr) std::fprintf(stderr, "imexhost: cannot watch dialogs (error %lu)\n", GetLastError());
    }

    if (options.reportHandles) {
        std::printf("handles before %u threads %u\n", CountHandles(), CountThreads());
        std::fflush(stdout);
    }
    int result = 0;
    for (int call = 0; call < options.repeat; ++call) {
        reentered = false;
        result = imEx(0, 0, 0, options.recordFile, 0, options.mode,
                      options.nullCallback ? nullptr : OnProgress);
        std::printf("result %d: %s\n", result, ResultMeaning(result));
        // Per call, so that what the first transfer sets up once (window
        // classes, the system's own per-process objects) shows apart from
        // what every transfer would leave behind.
        if (options.reportHandles)
            std::printf("handles after call %d: %u threads %u\n", call + 1, CountHandles(), CountThreads());
        std::fflush(stdout);
    }
    if (options.reportHandles) {
        std::printf("handles after %u threads %u\n", CountHandles(), CountThreads());
        std::fflush(stdout);
    }
    if (callerWindow != nullptr) {
        Log("owner after the calls: enabled %d active %d", IsWindowEnabled(callerWindow) ? 1 : 0,
            GetActiveWindow() == callerWindow ? 1 : 0);
        DestroyWindow(callerWindow);
        if (callerMain != nullptr) {
            Log("main window after the calls: enabled %d", IsWindowEnabled(callerMain) ? 1 : 0);
            DestroyWindow(callerMain);
        }
    }
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    FreeLibrary(dll);
    return result;
}
