// The walk a transfer makes over a record file, written once: the trailer
// check, the opening the passes share, the counting and filling passes into
// the table, then the sending pass block by block. The transfer driver sends
// what it yields; recfile, the fuzz target and the benchmark read files
// through it too, so whatever they show is what a transfer would send.
#pragma once

#include <cstdint>

#include "RecordAssembly.h"
#include "RecordFile.h"
#include "RecordTable.h"

// The block whose header the sending pass read last.
struct RecordBlock {
    int32_t number = 0;                   // 1-based
    int64_t offset = 0;                   // of its start mark
    const RecordSlot* entries = nullptr;  // its entries in the table
    int32_t entryCount = 0;
};

// One record as a reader without a host sees it: its block, the texts the
// host's fieldTexts would hold and the payload SendRecord would send.
struct RecordView {
    RecordBlock block;
    const char* fieldTexts[RECORD_FIELD_COUNT] = {};
    // Room for the longest payload and its closing NUL, so nothing is cut.
    uint8_t payload[MAX_PAYLOAD_LENGTH + 1] = {};
    int32_t payloadLength = 0;
};

class RecordSource {
public:
    // Reads through `file` into `table`; both outlive the source, and their
    // owner closes and releases them.
    RecordSource(RecordFile& file, RecordTable& table) : file(file), table(table) {}
    RecordSource(const RecordSource&) = delete;
    RecordSource& operator=(const RecordSource&) = delete;

    // On a file object of its own. IMEX_RESULT_OK with BlockCount() set, or
    // the result of the problem.
    int32_t CheckTrailer(const char* path) noexcept;
    int32_t BlockCount() const { return blockCount; }
    // The opening that the passes share. IMEX_RESULT_OK or the problem's result.
    int32_t Open(const char* path) noexcept;
    // The counting pass, the table sized to its total, the filling pass.
    // IMEX_RESULT_OK, IMEX_RESULT_NO_MEMORY or the problem's result.
    int32_t ReadTable() noexcept;
    // CheckTrailer, Open and ReadTable in a row, for readers without a host
    // (a transfer connects between the first two).
    int32_t Load(const char* path) noexcept;

    // Starts the sending pass from the first byte and the table's first slot.
    void StartRecords() noexcept;
    // Reads the next block's header. False once every announced block has
    // been read, or when the file fails: Result() tells which.
    bool NextBlock() noexcept;
    const RecordBlock& Block() const { return block; }
    // Merges the block's entries into `fieldTexts`; they point into the
    // table and this source's notes until the next block is assembled.
    void AssembleRecord(const char** fieldTexts);
    // NextBlock and AssembleRecord, with the payload built as the host builds it.
    bool NextRecord(RecordView& record);

    // IMEX_RESULT_OK while the file reads soundly, else its problem's result.
    int32_t Result() const { return FileProblemResult(file.Problem()); }

private:
    RecordFile& file;
    RecordTable& table;
    RecordAssembler assembler;
    RecordBlock block;
    int32_t blockCount = 0;
    int32_t blocksRead = 0;
};
