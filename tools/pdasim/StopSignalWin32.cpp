#include "StopSignal.h"

#include <windows.h>

volatile std::sig_atomic_t stopRequested = 0;

namespace {

// Runs on a thread of its own; the main loop sees the flag within its
// 200 ms read bound and ends as it does after SIGINT.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        stopRequested = 1;
        // The system ends the process once this returns after a close:
        // give the loop the time to finish.
        if (event == CTRL_CLOSE_EVENT) Sleep(1000);
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

void InstallStopSignals()
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
