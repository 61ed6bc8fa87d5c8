// Helpers for the Win32 link tests: a message-only window that collects
// WM_LINK_DONE with arrival times, a millisecond clock, and the counts of the
// process's handles and threads (ProcessCounts.h) for leak checks.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ProcessCounts.h"

// Which simulator behaviour stands behind which port; the CTest entry
// starts the simulators to match.
constexpr const char* PLAIN_PORT = "COM3";         // answers everything, logs records
constexpr const char* SILENT_PORT = "COM4";        // reads, never answers
constexpr const char* WRONG_LENGTH_PORT = "COM5";  // length fields one too large
constexpr const char* STALE_REPLY_PORT = "COM6";   // a reply of another code first
constexpr const char* CORRUPT_FCS_PORT = "COM7";   // FCS of its first reply corrupted
constexpr const char* DELAYED_PORT = "COM8";       // every reply 400 ms late
constexpr const char* SOAK_PORT = "COM9";          // answers everything
constexpr const char* MISSING_PORT = "COM77";      // not mapped at all
constexpr DWORD DELAYED_PORT_DELAY_MS = 400;

// Set from the command line by the test main.
struct WinLinkTestConfig {
    std::string recordLogPath;  // pdasim --log file of PLAIN_PORT, as a Windows path
};
extern WinLinkTestConfig g_testConfig;

double NowMs();
bool RunningUnderWine();

struct Completion {
    WPARAM success = 0;
    const uint8_t* message = nullptr;
    uint8_t code = 0;  // byte 0 of the message, read when it arrived
    double atMs = 0;
};

class CompletionWindow {
public:
    CompletionWindow();
    ~CompletionWindow();
    CompletionWindow(const CompletionWindow&) = delete;
    CompletionWindow& operator=(const CompletionWindow&) = delete;

    HWND Handle() const { return window_; }
    // Dispatches messages until `count` completions have arrived in total or
    // `limitMs` has passed; true when they arrived.
    bool WaitFor(size_t count, DWORD limitMs);
    // Dispatches messages for `forMs`.
    void Pump(DWORD forMs);

    std::vector<Completion> completions;
    // Runs inside the window procedure for each completion, after it is recorded.
    std::function<void(const Completion&)> onCompletion;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
};

// The last line of a text file, or "" when it cannot be read.
std::string LastLineOf(const std::string& path);
// Number of lines in a text file (0 when missing).
size_t LineCountOf(const std::string& path);
// The value of "key": in a one-line JSON object, as raw text.
std::string JsonField(const std::string& line, const std::string& key);
