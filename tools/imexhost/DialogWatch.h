// Watches the DLL's dialogs and message boxes as they come up on the
// calling thread: logs them, answers boxes, presses keys and takes
// screenshots as the options say, and counts every box into the outcome.
#pragma once

#include <windows.h>

// Starts the clock that Log's time stamps count from.
void StartLogClock();
// One line on stdout, "[seconds] text", flushed at once.
void Log(const char* format, ...);

// Sets the hook on this thread; null (with a message) when it cannot be set.
HHOOK WatchDialogs();
