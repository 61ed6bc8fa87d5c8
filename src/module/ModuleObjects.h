// The module-wide objects of imex.dll, built when the DLL is loaded and
// destroyed, in reverse order, when it is unloaded.
#pragma once

#include "HostDialog.h"
#include "TransferApp.h"

// The record file reader and the serial port both name a READ_BUFFER_SIZE;
// until one of them is renamed, the reader's is seen here under another
// name (same value, so the same layout).
#define READ_BUFFER_SIZE RECORD_FILE_READ_BUFFER_SIZE
#include "RecordFile.h"
#undef READ_BUFFER_SIZE

extern TransferApp transferApp;
extern RecordFile recordFile;
extern HostDialog hostDialog;
