#include "TransferDriver.h"

#include <atomic>

#include "RecordAssembly.h"
#include "RecordFile.h"
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
        if (acquired)
            transferRunning.store(false);
    }
    bool Acquired() const { return acquired; }

private:
    bool acquired;
};

// Undoes what a transfer acquired, whichever way it ends: the field texts
// (which point into the table), the table, the file and the host window.
class TransferCleanup {
public:
    TransferCleanup(TransferHost& host, RecordFile& file, RecordTable& table) : host(host), file(file), table(table) {}
    ~TransferCleanup()
    {
        if (fileOpened)
            file.Close();
        if (windowCreated)
            host.DestroyHostWindow();
        for (const char*& text : host.fieldTexts)
            text = EMPTY_TEXT;
        table.Release();
    }
    bool windowCreated = false;
    bool fileOpened = false;

private:
    TransferHost& host;
    RecordFile& file;
    RecordTable& table;
};

void ResetFieldTexts(TransferHost& host)
{
    for (const char*& text : host.fieldTexts)
        text = EMPTY_TEXT;
}

bool Connect(TransferHost& host)
{
    host.portName = FIRST_PORT;
    host.RunConnectDialog();
    if (host.connected != 0)
        return true;
    host.portName = SECOND_PORT;
    host.RunConnectDialog();
    return host.connected != 0;
}

// Pass 1: counts the entries of all blocks into totalEntries.
bool CountEntries(RecordFile& file, int32_t blockCount)
{
    file.Rewind();
    for (int32_t block = 0; block < blockCount; ++block)
        if (!file.FindBlockStart() || !file.ReadBlockHeader())
            return false;
    return true;
}

// Pass 2: copies every entry into the table.
bool FillTable(RecordFile& file, RecordTable& table, int32_t blockCount)
{
    file.Rewind();
    for (int32_t block = 0; block < blockCount; ++block)
        if (!file.FindBlockStart() || !file.ReadBlockHeader() || !file.ReadBlockEntries(table))
            return false;
    return true;
}

// Pass 3: one record per block, reported before it is assembled and sent.
int32_t SendRecords(TransferHost& host, RecordFile& file, RecordTable& table, int32_t blockCount,
                    ProgressFn progress, void* context)
{
    RecordAssembler assembler;
    file.Rewind();
    ResetFieldTexts(host);
    int32_t remaining = blockCount;
    for (int32_t block = 0; remaining > 0; ++block) {
        // Passes 1 and 2 have read these very blocks, so this only fails if
        // the platform does.
        if (!file.FindBlockStart() || !file.ReadBlockHeader())
            return FileProblemResult(file.Problem());
        if (progress != nullptr)
            progress(context, block + 1, blockCount);
        assembler.AssembleRecord(file.blockEntries, table, host.fieldTexts);
        --remaining;
        if (!host.SendRecord())
            return IMEX_RESULT_NOT_CONNECTED;
        ResetFieldTexts(host);
    }
    return IMEX_RESULT_OK;
}

int32_t RunTransfer(TransferHost& host, RecordFile& file, const char* path, ProgressFn progress, void* context)
{
    file.totalEntries = 0;
    if (path == nullptr)
        return IMEX_RESULT_CANNOT_OPEN;
    int32_t blockCount = 0;
    const int32_t trailerResult = file.CheckTrailer(path, blockCount);
    if (trailerResult != IMEX_RESULT_OK)
        return trailerResult;

    RecordTable table;
    TransferCleanup cleanup(host, file, table);
    if (!host.CreateHostWindow())
        return IMEX_RESULT_NO_DEVICE;
    cleanup.windowCreated = true;
    if (!Connect(host))
        return IMEX_RESULT_NO_DEVICE;

    host.recordTotal = blockCount;
    host.recordCounter = 1;
    cleanup.fileOpened = true;
    if (!file.Open(path))
        return FileProblemResult(file.Problem());

    if (!CountEntries(file, blockCount))
        return FileProblemResult(file.Problem());
    if (!table.Allocate(file.totalEntries, file.maxTableSlots))
        return IMEX_RESULT_NO_MEMORY;
    if (!FillTable(file, table, blockCount))
        return FileProblemResult(file.Problem());
    return SendRecords(host, file, table, blockCount, progress, context);
}

}  // namespace

int32_t RunImEx(TransferHost& host, RecordFile& file, const char* path, int32_t mode, ProgressFn progress,
                void* context)
{
    // A refused mode touches nothing, not even the busy flag, so it answers
    // 0 whether or not a transfer is running.
    if (mode != TRANSFER_MODE)
        return IMEX_RESULT_OK;
    BusyFlag busy;
    if (!busy.Acquired())
        return IMEX_RESULT_BUSY;
    return RunTransfer(host, file, path, progress, context);
}
