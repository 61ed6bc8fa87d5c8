// The driver of one transfer: the whole work of one ImEx call, from the mode
// check to the clean-up, over a TransferHost and the module's RecordFile.
// Portable; the Win32 export adapts its stdcall callback to ProgressFn.
#pragma once

#include <cstdint>

#include "imex.h"

class RecordFile;
class TransferHost;

// The only mode that does anything.
constexpr int32_t TRANSFER_MODE = IMEX_MODE_TRANSFER;

// Told after each block header of the sending pass, with the 1-based block
// number and the announced block count. `context` is passed through.
using ProgressFn = void (*)(void* context, int32_t block, int32_t blockCount);

// Runs one transfer and returns an IMEX_RESULT_ code. Never throws. A null
// `progress` is not called; a null `path` gives IMEX_RESULT_CANNOT_OPEN.
// A call made while another call is running (another thread, or from inside
// the progress callback) returns IMEX_RESULT_BUSY at once.
int32_t RunImEx(TransferHost& host, RecordFile& file, const char* path, int32_t mode, ProgressFn progress,
                void* context);
