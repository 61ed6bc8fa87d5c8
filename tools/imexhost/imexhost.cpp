// imexhost: a small console host for imex.dll, for people and tests.
// It loads the DLL, calls ImEx on a record file and reports what happened:
// one "progress K/N" line per callback and a "result R: <meaning>" line per
// call; the exit status is the last call's (USAGE). Options make it watch and drive
// the DLL's dialogs the way a person would: read them, answer message
// boxes, press Enter or Escape, take screenshots. After each call it sums
// up what became of every record, from the message boxes the DLL showed.
#include <windows.h>
#include <tlhelp32.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "DialogIds.h"
#include "UiTexts.h"
#include "imex.h"

namespace {

const char* ResultMeaning(int result)
{
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

// Exit statuses beyond the DLL's results (which are exit statuses as they are).
constexpr int EXIT_RECORDS_REFUSED = 8;  // the device refused records (some may also be lost)
constexpr int EXIT_RECORDS_LOST = 9;     // records failed on the line or were abandoned, none refused
constexpr int EXIT_NO_PORT = 10;         // result 7, and neither COM1 nor COM2 can be opened
constexpr int EXIT_NO_DLL = 100;
constexpr int EXIT_USAGE = 101;

// The id of a message box's text: the static control that MessageBox makes.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr UINT PRESS_DELAY_MS = 150;
constexpr UINT SCREENSHOT_DELAY_MS = 300;
constexpr UINT_PTR TIMER_ANSWER = 0x1D01;
constexpr UINT_PTR TIMER_PRESS_ESCAPE = 0x1D02;
constexpr UINT_PTR TIMER_PRESS_ENTER = 0x1D03;
constexpr UINT_PTR TIMER_SCREENSHOT = 0x1D04;

enum class DialogKind {
    CONNECT,
    TRANSFER,
    BOX
};

const char* KindName(DialogKind kind)
{
    switch (kind) {
    case DialogKind::CONNECT: return "connect";
    case DialogKind::TRANSFER: return "transfer";
    default: return "box";
    }
}

struct Press {
    std::string key;   // "escape" or "enter"
    DialogKind where;  // CONNECT or TRANSFER
    int occurrence;    // 1-based count of that dialog kind in the process
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
    int exitInCallback = 0;    // block whose callback ends the process at once
    int exitFromThread = 0;    // block whose callback lets another thread end the process
    std::string screenshotDir;
    const char* recordFile = nullptr;
};

// What became of the records of one call, as the message boxes tell: a
// record without a box was answered as taken.
struct CallOutcome {
    int records = 0;           // blocks announced by the callback, or transfer dialogs seen
    int currentRecord = 0;     // the record whose transfer runs now
    std::set<int> refused;     // RECORD_REFUSED_MESSAGE
    std::set<int> lineFaults;  // LINE_FAULT_MESSAGE
    std::set<int> abandoned;   // its transfer dialog ended by a key press before any box
    int otherBoxes = 0;
};

Options options;
CallOutcome outcome;
IMEX_FUNCTION imEx = nullptr;
DWORD startTick = 0;
int connectCount = 0;
int transferCount = 0;
int boxCount = 0;
bool reentered = false;
HWND callerWindow = nullptr;  // --owner-window: the caller's own visible top-level window
HWND callerMain = nullptr;    // --owner-window=nested: the main window behind it

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

// Writes the window's pixels, as the screen shows them, to a BMP file.
bool SaveScreenshot(HWND window, const std::string& path)
{
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

void CountBox(const std::string& text)
{
    // A box of an abandoned record's late outcome belongs to that record all the same.
    outcome.abandoned.erase(outcome.currentRecord);
    if (text == RECORD_REFUSED_MESSAGE)
        outcome.refused.insert(outcome.currentRecord);
    else if (text == LINE_FAULT_MESSAGE)
        outcome.lineFaults.insert(outcome.currentRecord);
    else
        ++outcome.otherBoxes;
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

DWORD WINAPI ReenterFromThread(void*)
{
    int result = imEx(0, 0, 0, options.recordFile, 0, options.mode, nullptr);
    std::printf("reentry-thread result %d\n", result);
    std::fflush(stdout);
    return 0;
}

DWORD WINAPI ExitFromThread(void*)
{
    // Lets the record's dialog come up and its request start first.
    Sleep(300);
    std::printf("exiting from another thread\n");
    std::fflush(stdout);
    ExitProcess(43);
}

void WINAPI OnProgress(int block, int blockCount)
{
    std::printf("progress %d/%d\n", block, blockCount);
    std::fflush(stdout);
    outcome.currentRecord = block;
    outcome.records = blockCount;
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

// GetProcessHandleCount is not implemented by every Windows emulation, so
// the handle table is probed instead: every valid handle answers.
unsigned CountHandles()
{
    unsigned count = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

unsigned CountThreads()
{
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

const char USAGE[] =
    "usage: imexhost [options] RECORD_FILE\n"
    "  Calls ImEx(0, 0, 0, RECORD_FILE, 0, mode, callback) from imex.dll and prints \"progress K/N\"\n"
    "  per callback, \"result R: <meaning>\" per call and, last, what became of the records:\n"
    "  \"N records: S stored, R refused (records i, j), F line faults (records k)\", counted from the\n"
    "  message boxes (a record without one was answered as taken).\n"
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
    "  --help                this text\n"
    "  Where nobody can see the display (IMEX_DISPLAY_HIDDEN=1, set by winerun.sh when it starts\n"
    "  Xvfb itself), a transfer runs only with --answer-boxes: a box would wait for ever.\n"
    "Exit status (of the last call): 0 every record stored (also: no record, or a mode other than 1);\n"
    "  1 busy; 2 the record file cannot be opened; 3 the record file is not valid; 4 no memory;\n"
    "  6 no device connected; 7 no device answered on COM1 or COM2; 8 the device refused records;\n"
    "  9 records failed on the line or were abandoned (none refused); 10 neither COM1 nor COM2 can be\n"
    "  opened; 100 the DLL cannot be loaded; 101 bad usage.\n";

// A whole decimal number within [low, high], all of `text`.
bool ParseNumber(const char* text, long low, long high, int* out)
{
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *out = static_cast<int>(value);
    return true;
}

bool ParsePress(const std::string& text, Press* press)
{
    size_t at = text.find('@');
    if (at == std::string::npos) return false;
    press->key = text.substr(0, at);
    if (press->key != "escape" && press->key != "enter") return false;
    std::string where = text.substr(at + 1);
    press->occurrence = 1;
    size_t colon = where.find(':');
    if (colon != std::string::npos) {
        if (!ParseNumber(where.c_str() + colon + 1, 1, INT_MAX, &press->occurrence)) return false;
        where = where.substr(0, colon);
    }
    if (where == "connect")
        press->where = DialogKind::CONNECT;
    else if (where == "transfer")
        press->where = DialogKind::TRANSFER;
    else
        return false;
    return true;
}

// False with a message naming the option (or argument) and what is wrong.
bool ParseArguments(int argc, char** argv, bool* help, std::string* error)
{
    struct Number {
        const char* name;
        int* field;
        long low;
        long high;
    };
    const Number numbers[] = {
        {"--mode", &options.mode, INT_MIN, INT_MAX},
        {"--repeat", &options.repeat, 1, 100000},
        {"--exit-in-callback", &options.exitInCallback, 1, INT_MAX},
        {"--exit-from-thread", &options.exitFromThread, 1, INT_MAX},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const Number* number = nullptr;
        for (const Number& n : numbers) {
            if (arg == n.name) number = &n;
        }
        const bool takesValue = number != nullptr || arg == "--dll" || arg == "--press" || arg == "--screenshots";
        if (takesValue && (value == nullptr || *value == '\0')) {
            *error = arg + " needs a value";
            return false;
        }
        if (number != nullptr) {
            if (!ParseNumber(value, number->low, number->high, number->field)) {
                std::string range;
                if (number->low != INT_MIN)
                    range = " from " + std::to_string(number->low) +
                            (number->high != INT_MAX ? " to " + std::to_string(number->high) : std::string());
                *error = arg + " needs a whole number" + range + ", not \"" + value + "\"";
                return false;
            }
            ++i;
        } else if (arg == "--dll") {
            options.dllPath = argv[++i];
        } else if (arg == "--null-callback") {
            options.nullCallback = true;
        } else if (arg == "--answer-boxes") {
            options.answerBoxes = true;
        } else if (arg.rfind("--answer-boxes=", 0) == 0) {
            int ms = 0;
            if (!ParseNumber(arg.c_str() + 15, 0, 600000, &ms)) {
                *error = "--answer-boxes=MS needs milliseconds from 0 to 600000, not \"" + arg.substr(15) + "\"";
                return false;
            }
            options.answerBoxes = true;
            options.answerDelayMs = static_cast<UINT>(ms);
        } else if (arg == "--log-dialogs") {
            options.logDialogs = true;
        } else if (arg == "--press") {
            Press press;
            if (!ParsePress(argv[++i], &press)) {
                *error = std::string("--press needs escape|enter@connect|transfer[:N], not \"") + value + "\"";
                return false;
            }
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
        } else if (arg == "--screenshots") {
            options.screenshotDir = argv[++i];
        } else if (arg == "--help") {
            *help = true;
        } else if (arg.rfind("--", 0) == 0) {
            *error = "unknown option " + arg;
            return false;
        } else if (options.recordFile != nullptr) {
            *error = "one record file only: " + std::string(options.recordFile) + " and " + arg;
            return false;
        } else {
            options.recordFile = argv[i];
        }
    }
    if (!*help && options.recordFile == nullptr) {
        *error = "no record file given";
        return false;
    }
    return true;
}

// After result 7: whether the ports could be opened at all, which tells a
// wrong or forbidden port from a device that is off. Returns how many could.
int DescribePorts(std::string* findings)
{
    int usable = 0;
    for (const char* port : {"COM1", "COM2"}) {
        const std::string name = std::string("\\\\.\\") + port;
        HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD error = GetLastError();
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        // Wine opens a mapped port whose device is missing; only its settings fail then.
        bool opens = handle != INVALID_HANDLE_VALUE && GetCommState(handle, &dcb);
        if (handle != INVALID_HANDLE_VALUE && !opens) error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        if (!findings->empty()) *findings += "; ";
        *findings += port;
        *findings += opens ? " opens" : " cannot be opened (error " + std::to_string(error) + ")";
        if (opens) ++usable;
    }
    return usable;
}

std::string RecordList(const std::set<int>& records)
{
    if (records.empty()) return std::string();
    std::string list = records.size() == 1 ? " (record " : " (records ";
    bool first = true;
    for (int record : records) {
        list += (first ? "" : ", ") + std::to_string(record);
        first = false;
    }
    return list + ")";
}

// Prints the call's last line and gives the exit status it stands for.
int Summarize(int result)
{
    if (result == IMEX_RESULT_NO_DEVICE) {
        std::string findings;
        bool anyPort = DescribePorts(&findings) > 0;
        std::printf("no record sent: %s (%s)\n",
                    anyPort ? "no device answered on COM1 or COM2" : "neither COM1 nor COM2 can be opened",
                    findings.c_str());
        return anyPort ? result : EXIT_NO_PORT;
    }
    if (result != IMEX_RESULT_OK) {
        std::printf("no record sent: %s\n", ResultMeaning(result));
        return result;
    }
    const CallOutcome& o = outcome;
    const int stored = o.records - static_cast<int>(o.refused.size() + o.lineFaults.size() + o.abandoned.size());
    std::printf("%d records: %d stored, %d refused%s, %d line faults%s", o.records, stored,
                static_cast<int>(o.refused.size()), RecordList(o.refused).c_str(),
                static_cast<int>(o.lineFaults.size()), RecordList(o.lineFaults).c_str());
    if (!o.abandoned.empty())
        std::printf(", %d abandoned%s", static_cast<int>(o.abandoned.size()), RecordList(o.abandoned).c_str());
    if (o.otherBoxes > 0) std::printf(", %d other message boxes", o.otherBoxes);
    std::printf("\n");
    if (!o.refused.empty()) return EXIT_RECORDS_REFUSED;
    if (!o.lineFaults.empty() || !o.abandoned.empty()) return EXIT_RECORDS_LOST;
    return 0;
}

// True when nobody can see the display the program runs on.
bool DisplayHidden()
{
    char value[8] = {};
    DWORD length = GetEnvironmentVariableA("IMEX_DISPLAY_HIDDEN", value, sizeof value);
    return length > 0 && length < sizeof value && std::strcmp(value, "1") == 0;
}

std::string DefaultDllPath()
{
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self, length);
    size_t slash = path.find_last_of("\\/");
    path = (slash == std::string::npos) ? std::string() : path.substr(0, slash + 1);
    return path + "imex.dll";
}

}  // namespace

int main(int argc, char** argv)
{
    startTick = GetTickCount();
    bool help = false;
    std::string error;
    if (!ParseArguments(argc, argv, &help, &error)) {
        std::fprintf(stderr, "imexhost: %s\n(imexhost --help shows the usage)\n", error.c_str());
        return EXIT_USAGE;
    }
    if (help) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (options.mode == IMEX_MODE_TRANSFER && !options.answerBoxes && DisplayHidden()) {
        std::fprintf(stderr,
                     "imexhost: nobody can see this display (IMEX_DISPLAY_HIDDEN=1), so the first message "
                     "box would wait for ever: give --answer-boxes\n");
        return EXIT_USAGE;
    }
    if (!options.screenshotDir.empty()) CreateDirectoryA(options.screenshotDir.c_str(), nullptr);
    if (options.dllPath.empty()) options.dllPath = DefaultDllPath();

    HMODULE dll = LoadLibraryA(options.dllPath.c_str());
    if (dll == nullptr) {
        std::fprintf(stderr, "imexhost: cannot load %s (error %lu)\n", options.dllPath.c_str(), GetLastError());
        return EXIT_NO_DLL;
    }
    imEx = reinterpret_cast<IMEX_FUNCTION>(reinterpret_cast<void*>(GetProcAddress(dll, "ImEx")));
    if (imEx == nullptr) {
        std::fprintf(stderr, "imexhost: %s exports no ImEx\n", options.dllPath.c_str());
        FreeLibrary(dll);
        return EXIT_NO_DLL;
    }

    if (options.ownerWindow) callerWindow = CreateCallerWindow();
    // Always set: the boxes it sees are what the summary counts.
    HHOOK hook = SetWindowsHookExW(WH_CBT, OnCbtEvent, nullptr, GetCurrentThreadId());
    if (hook == nullptr) std::fprintf(stderr, "imexhost: cannot watch dialogs (error %lu)\n", GetLastError());

    if (options.reportHandles) {
        std::printf("handles before %u threads %u\n", CountHandles(), CountThreads());
        std::fflush(stdout);
    }
    int status = 0;
    for (int call = 0; call < options.repeat; ++call) {
        reentered = false;
        outcome = CallOutcome();
        int result = imEx(0, 0, 0, options.recordFile, 0, options.mode, options.nullCallback ? nullptr : OnProgress);
        std::printf("result %d: %s\n", result, ResultMeaning(result));
        status = Summarize(result);
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
    return status;
}
