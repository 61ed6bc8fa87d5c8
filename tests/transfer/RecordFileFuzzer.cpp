// Feeds arbitrary bytes (read from memory) as a record file through the
// record source, as recfile and the benchmark read it, then through the whole
// driver with a fake host, and checks what must hold for every input: above
// all that the driver sends exactly what the source yields.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FileInputMemory.h"
#include "RecordAssembly.h"
#include "RecordFile.h"
#include "RecordSource.h"
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
    void RunConnectDialog() override { SetConnected(true); }
    void RunTransferDialog(int32_t percent, int32_t dataLength, const uint8_t* data) override
    {
        Check(dataLength >= RECORD_FIELD_COUNT && dataLength <= MAX_PAYLOAD_LENGTH, "payload length in range");
        Check(data[dataLength] == 0, "payload closed by a NUL");
        Check(percent >= 0 && percent <= 100, "percentage between 0 and 100");
        Check(reported == static_cast<int32_t>(payloads.size()) + 1, "each block reported before it is sent");
        payloads.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(dataLength));
    }
    static void Progress(void* context, int32_t block, int32_t blockCount)
    {
        CheckingHost* self = static_cast<CheckingHost*>(context);
        Check(block == static_cast<int32_t>(self->payloads.size()) + 1, "blocks reported one by one, from 1");
        Check(block <= blockCount, "no block reported beyond the count");
        self->reported = block;
    }
    int32_t reported = 0;
    std::vector<std::string> payloads;
};

struct SourceOutcome {
    int32_t result = 0;
    std::vector<std::string> payloads;
};

SourceOutcome ReadThroughSource(const char* path)
{
    static RecordFile file;
    RecordTable table;
    RecordSource source(file, table);
    SourceOutcome out;
    out.result = source.Load(path);
    Check(out.result != IMEX_RESULT_NO_MEMORY, "table of the counted size");
    Check(file.totalEntries >= 0, "entry total never negative");
    Check(table.FillRoom() >= 0, "slots filled never exceed slots counted");
    if (out.result != IMEX_RESULT_OK) {
        file.Close();
        return out;
    }
    Check(table.FillRoom() == 0, "filling pass fills every counted slot");
    source.StartRecords();
    static RecordView record;
    int32_t blocks = 0;
    while (source.NextRecord(record)) {
        const RecordBlock& block = record.block;
        Check(block.number == ++blocks, "blocks numbered from 1 in file order");
        Check(block.entryCount >= 0 && block.entries >= table.Slots() &&
                  block.entries + block.entryCount <= table.Slots() + table.readCursor + table.ReadRoom(),
              "a block's entries lie in the table");
        Check(record.payloadLength >= RECORD_FIELD_COUNT && record.payloadLength <= MAX_PAYLOAD_LENGTH,
              "payload length in range");
        Check(std::strlen(record.fieldTexts[RECORD_FIELD_COUNT - 1]) <= NOTES_TEXT_MAX, "notes within their buffer");
        out.payloads.emplace_back(reinterpret_cast<const char*>(record.payload),
                                  static_cast<size_t>(record.payloadLength));
    }
    Check(source.Result() == IMEX_RESULT_OK, "the third pass sees the blocks the others saw");
    Check(blocks == (source.BlockCount() > 0 ? source.BlockCount() : 0), "one record per announced block");
    Check(table.ReadRoom() == 0, "assembly consumes every slot");
    file.Close();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetMemoryFile(data, size);
    const char* path = "fuzz.rec";
    const SourceOutcome expected = ReadThroughSource(path);

    static CheckingHost host;
    static RecordFile file;
    host.reported = 0;
    host.payloads.clear();
    const int32_t result = RunImEx(host, file, path, TRANSFER_MODE, &CheckingHost::Progress, &host);
    Check(result == 0 || result == 3, "a readable file gives 0 or 3");
    Check(result == expected.result, "the driver and the source agree on the file");
    Check(result == 0 || host.payloads.empty(), "a refused file sends nothing");
    Check(host.payloads == expected.payloads, "the driver sends what the source yields");
    Check(!file.IsOpen(), "file closed after the call");
    return 0;
}
