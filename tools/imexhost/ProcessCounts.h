// Counts of this process's handles and threads, for leak checks: printed by
// imexhost --report-handles and compared by the Windows link tests.
#pragma once

#include <cstddef>

// Handles open in this process. GetProcessHandleCount is not implemented by
// every Windows emulation (Wine's answers 0), so the handle table is probed
// instead: every valid handle answers.
size_t CountProcessHandles();
// Threads of this process, from a Toolhelp snapshot; 0 when none can be taken.
size_t CountProcessThreads();
