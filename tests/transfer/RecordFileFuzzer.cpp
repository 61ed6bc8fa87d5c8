// Feeds arbitrary bytes (read from memory) as a record file through the three passes and the
// record assembly, then through the whole driver with a fake host, and
// checks what must hold for every input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FileInputMemory.h"
#include "RecordAssembly.h"
#include "RecordFile.h"
#include "RecordTable.h"
#include "TransferDriver.h"
#include "TransferHost.h"

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

class CheckingHost : public TransferHost {
public:
    bool CreateHostWindow() override { return true; }
    void DestroyHostWindow() override {}
    void RunConnectDialog() override { connected = 1; }
    void RunTransferDialog(int32_t percent, int32_t dataLength, const uint8_t* data) override
    {
        Check(dataLength >= PAYLOAD_FIELD_COUNT && dataLength <= MAX_PAYLOAD_LENGTH, "payload length in range");
        Check(data[dataLength] == 0, "payload closed by a NUL");
        Check(percent >= 0 && percent <= 100, "percentage between 0 and 100");
        ++sent;
    }
    int32_t sent = 0;
};

void RunPasses(const char* path)
{
    static RecordFile file;
    int32_t blockCount = 0;
    if (file.CheckTrailer(path, blockCount) != 0)
        return;
    Check(file.Open(path), "second opening succeeds");
    file.Rewind();
    int32_t found = 0;
    for (; found < blockCount; ++found)
        if (!file.FindBlockStart() || !file.ReadBlockHeader())
            break;
    const int32_t counted = file.totalEntries;
    const bool countingDone = found == blockCount || blockCount <= 0;
    Check(counted >= 0, "entry total never negative");
    if (!countingDone) {
        file.Close();
        return;
    }
    RecordTable table;
    Check(table.Allocate(counted), "table of the counted size");
    file.Rewind();
    bool filled = true;
    for (int32_t block = 0; block < blockCount && filled; ++block) {
        filled = file.FindBlockStart() && file.ReadBlockHeader() && file.ReadBlockEntries(table);
        Check(table.fillCursor <= counted, "slots filled never exceed slots counted");
    }
    if (!filled) {
        file.Close();
        return;
    }
    Check(table.fillCursor == counted, "filling pass fills every counted slot");
    file.Rewind();
    RecordAssembler assembler;
    const char* texts[PAYLOAD_FIELD_COUNT];
    static uint8_t payload[RECORD_BUFFER_SIZE];
    for (int32_t block = 0; block < blockCount; ++block) {
        Check(file.FindBlockStart() && file.ReadBlockHeader(), "the third pass sees the blocks the others saw");
        assembler.AssembleRecord(file.blockEntries, table, texts);
        const int32_t length = BuildRecordPayload(texts, payload, sizeof payload);
        Check(length >= PAYLOAD_FIELD_COUNT && length <= MAX_PAYLOAD_LENGTH, "payload length in range");
        Check(std::strlen(texts[PAYLOAD_FIELD_COUNT - 1]) <= NOTES_TEXT_MAX, "notes within their buffer");
    }
    Check(table.readCursor == counted, "assembly consumes every slot");
    file.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetMemoryFile(data, size);
    const char* path = "fuzz.rec";
    RunPasses(path);

    static CheckingHost host;
    static RecordFile file;
    host.sent = 0;
    const int32_t result = RunImEx(host, file, path, TRANSFER_MODE, nullptr, nullptr);
    Check(result == 0 || result == 3, "a readable file gives 0 or 3");
    Check(result == 0 || host.sent == 0, "a refused file sends nothing");
    Check(!file.IsOpen(), "file closed after the call");
    return 0;
}
