#include "TransferDriver.h"

#include <atomic>

#include "RecordAssembly.h"
#include "RecordFile.h"
#include "RecordSource.h"
#include "RecordTable.h"
#include "TransferHost.h"

namespace {

constexpr const char* FIRST_PORT = "COM1";
constexpr const char* SECOND_PORT = "COM2";

// One transfer at a time: the host, the reader and the table are shared by
// the whole module.
std::atomic<bool> transferRunning{false};

class BusyFlag {
public:
    BusyFlag() : acquired(!transferRunning.exchange(true)) {}
    ~BusyFlag()
    {
        if (acquired) transferRunning.store(false);
    }
    bool Acquired() const { return acquired; }

private:
    bool acquired;
};

void ResetFieldTexts(TransferHost& host)
{
    for (const char*& text : host.fieldTexts)
        text = EMPTY_TEXT;
}

// Undoes what a transfer acquired, whichever way it ends: the field texts
// (which point into the table), the table, the file and the host window.
class TransferCleanup {
public:
    TransferCleanup(TransferHost& host, RecordFile& file, RecordTable& table) : host(host), file(file), table(table) {}
    ~TransferCleanup()
    {
        if (fileOpened) file.Close();
        if (windowCreated) host.DestroyHostWindow();
        ResetFieldTexts(host);
        table.Release();
    }
    bool windowCreated = false;
    bool fileOpened = false;

private:
    TransferHost& host;
    RecordFile& file;
    RecordTable& table;
};

bool Connect(TransferHost& host)
{
    return host.AttemptConnection(FIRST_PORT) || host.AttemptConnection(SECOND_PORT);
}

// The sending pass: one record per block, reported before it is assembled
// and sent.
int32_t SendRecords(TransferHost& host, RecordSource& source, ProgressFn progress, void* context)
{
    source.StartRecords();
    ResetFieldTexts(host);
    while (source.NextBlock()) {
        if (progress != nullptr) progress(context, source.Block().number, source.BlockCount());
        source.AssembleRecord(host.fieldTexts);
        if (!host.SendRecord()) return IMEX_RESULT_NOT_CONNECTED;
        ResetFieldTexts(host);
    }
    return source.Result();
}

int32_t RunTransfer(TransferHost& host, RecordFile& file, const char* path, ProgressFn progress, void* context)
{
    file.totalEntries = 0;
    if (path == nullptr) return IMEX_RESULT_CANNOT_OPEN;
    // Both outlive the clean-up, which empties the field texts that point
    // into the table and into the source's notes.
    RecordTable table;
    RecordSource source(file, table);
    const int32_t trailerResult = source.CheckTrailer(path);
    if (trailerResult != IMEX_RESULT_OK) return trailerResult;

    TransferCleanup cleanup(host, file, table);
    if (!host.CreateHostWindow()) return IMEX_RESULT_NO_DEVICE;
    cleanup.windowCreated = true;
    if (!Connect(host)) return IMEX_RESULT_NO_DEVICE;

    host.recordTotal = source.BlockCount();
    host.recordCounter = 1;
    cleanup.fileOpened = true;
    const int32_t openResult = source.Open(path);
    if (openResult != IMEX_RESULT_OK) return openResult;
    const int32_t tableResult = source.ReadTable();
    if (tableResult != IMEX_RESULT_OK) return tableResult;
    return SendRecords(host, source, progress, context);
}

}  // namespace

int32_t RunImEx(TransferHost& host, RecordFile& file, const char* path, int32_t mode, ProgressFn progress,
                void* context)
{
    // A refused mode touches nothing, not even the busy flag, so it answers
    // 0 whether or not a transfer is running.
    if (mode != TRANSFER_MODE) return IMEX_RESULT_OK;
    BusyFlag busy;
    if (!busy.Acquired()) return IMEX_RESULT_BUSY;
    return RunTransfer(host, file, path, progress, context);
}
