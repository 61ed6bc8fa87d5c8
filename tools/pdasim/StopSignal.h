// The request to stop: SIGINT or SIGTERM on POSIX, Ctrl+C, Ctrl+Break or
// the console closing on Windows. The main loop and every wait look at the
// flag and end in order. StopSignalPosix.cpp and StopSignalWin32.cpp.
#pragma once

#include <csignal>

extern volatile std::sig_atomic_t stopRequested;

void InstallStopSignals();
