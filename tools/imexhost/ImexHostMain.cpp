// imexhost: a small console host for imex.dll, for people and tests.
// It loads the DLL, calls ImEx on a record file and reports what happened:
// one "progress K/N" line per callback and a "result R: <meaning>" line per
// call; the exit status is the last call's (HOST_USAGE). Options make it watch
// and drive the DLL's dialogs the way a person would: read them, answer
// message boxes, press Enter or Escape, take screenshots. After each call it
// sums up what became of every record, from the message boxes the DLL showed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "CallOutcome.h"
#include "CallerWindow.h"
#include "DialogWatch.h"
#include "HostOptions.h"
#include "ProcessCounts.h"
#include "imex.h"

namespace {

IMEX_FUNCTION imEx = nullptr;
bool reentered = false;

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
    StartLogClock();
    bool help = false;
    std::string error;
    if (!ParseArguments(argc, argv, &help, &error)) {
        std::fprintf(stderr, "imexhost: %s\n(imexhost --help shows the usage)\n", error.c_str());
        return EXIT_USAGE;
    }
    if (help) {
        std::fputs(HOST_USAGE, stdout);
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
    HHOOK hook = WatchDialogs();

    if (options.reportHandles) {
        std::printf("handles before %zu threads %zu\n", CountProcessHandles(), CountProcessThreads());
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
            std::printf("handles after call %d: %zu threads %zu\n", call + 1, CountProcessHandles(),
                        CountProcessThreads());
        std::fflush(stdout);
    }
    if (options.reportHandles) {
        std::printf("handles after %zu threads %zu\n", CountProcessHandles(), CountProcessThreads());
        std::fflush(stdout);
    }
    CloseCallerWindow();
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    FreeLibrary(dll);
    return status;
}
