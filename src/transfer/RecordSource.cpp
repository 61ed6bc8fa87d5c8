#include "RecordSource.h"

#include "imex.h"

int32_t RecordSource::CheckTrailer(const char* path) noexcept
{
    blockCount = 0;
    return file.CheckTrailer(path, blockCount);
}

int32_t RecordSource::Open(const char* path) noexcept
{
    return file.Open(path) ? IMEX_RESULT_OK : Result();
}

int32_t RecordSource::ReadTable() noexcept
{
    file.Rewind();
    for (int32_t b = 0; b < blockCount; ++b)
        if (!file.FindBlockStart() || !file.ReadBlockHeader()) return Result();
    if (!table.Allocate(file.totalEntries, file.maxTableSlots)) return IMEX_RESULT_NO_MEMORY;
    file.Rewind();
    for (int32_t b = 0; b < blockCount; ++b)
        if (!file.FindBlockStart() || !file.ReadBlockHeader() || !file.ReadBlockEntries(table)) return Result();
    return IMEX_RESULT_OK;
}

int32_t RecordSource::Load(const char* path) noexcept
{
    int32_t result = CheckTrailer(path);
    if (result == IMEX_RESULT_OK) result = Open(path);
    if (result == IMEX_RESULT_OK) result = ReadTable();
    return result;
}

void RecordSource::StartRecords() noexcept
{
    file.Rewind();
    table.readCursor = 0;
    blocksRead = 0;
    block = RecordBlock{};
}

bool RecordSource::NextBlock() noexcept
{
    // The first two passes have read these very blocks, so past them this
    // only fails if the platform does.
    if (blocksRead >= blockCount || !file.FindBlockStart()) return false;
    const int64_t offset = file.Position() - static_cast<int64_t>(MARK_SIZE);
    if (!file.ReadBlockHeader()) return false;
    ++blocksRead;
    block.number = blocksRead;
    block.offset = offset;
    block.entries = table.Slots() + table.readCursor;
    block.entryCount = file.blockEntries;
    return true;
}

void RecordSource::AssembleRecord(const char** fieldTexts)
{
    assembler.AssembleRecord(file.blockEntries, table, fieldTexts);
}

bool RecordSource::NextRecord(RecordView& record)
{
    if (!NextBlock()) return false;
    record.block = block;
    AssembleRecord(record.fieldTexts);
    record.payloadLength = BuildRecordPayload(record.fieldTexts, record.payload, sizeof record.payload);
    return true;
}
