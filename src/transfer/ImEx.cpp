// The DLL's one export: runs the transfer driver over the module's host
// window and record file reader, and adapts the caller's stdcall progress
// callback to the driver's.
#include <windows.h>

#include <cstdint>

#include "RecordFile.h"
#include "TransferDriver.h"
#include "TransferHost.h"
#include "TransferInstances.h"
#include "imex.h"

namespace {

struct ProgressAdapter {
    IMEX_PROGRESS callback;
};

void ReportProgress(void* context, int32_t block, int32_t blockCount)
{
    static_cast<ProgressAdapter*>(context)->callback(block, blockCount);
}

}  // namespace

extern "C" int WINAPI ImEx(int, int, int, const char* path, int, int mode, IMEX_PROGRESS progress)
{
    ProgressAdapter adapter{progress};
    // The driver reports every failure as a result and throws nothing; this
    // guard only keeps the DLL boundary free of exceptions should that ever
    // change, ending the transfer's window (and with it the link) first.
    try {
        return RunImEx(ModuleTransferHost(), ModuleRecordFile(), path, mode, progress ? ReportProgress : nullptr,
                       &adapter);
    } catch (...) {
        ModuleTransferHost().DestroyHostWindow();
        return IMEX_RESULT_NO_MEMORY;
    }
}
