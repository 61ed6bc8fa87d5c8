#include "RecordFile.h"

#include <cstring>

#include "imex.h"

namespace {

int32_t ReadLittleEndian32(const uint8_t* bytes)
{
    uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                     static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return static_cast<int32_t>(value);
}

bool IsMark(const uint8_t* bytes, const uint8_t (&mark)[4])
{
    return std::memcmp(bytes, mark, MARK_SIZE) == 0;
}

bool IsCp936LeadByte(uint8_t byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

}  // namespace

const char* FileProblemText(FileProblem problem)
{
    switch (problem) {
    case FileProblem::NONE: return "no problem";
    case FileProblem::CANNOT_OPEN: return "the file cannot be opened";
    case FileProblem::READ_ERROR: return "the file cannot be read";
    case FileProblem::TOO_SHORT: return "the file is too short for its trailer";
    case FileProblem::NO_TRAILER_MAGIC: return "the trailer magic is missing";
    case FileProblem::BLOCKS_MISSING: return "the trailer was reached before the announced number of blocks";
    case FileProblem::BAD_BODY_LENGTH: return "a block's body length is below 5";
    case FileProblem::BAD_ENTRY_COUNT: return "a block's entry count is negative or too large";
    case FileProblem::NO_END_MARK: return "a block has no end mark where its body length puts it";
    case FileProblem::ENTRIES_PAST_END_MARK: return "a block's entries run past its end mark";
    case FileProblem::UNTERMINATED_STRING: return "a string has no terminator before its block's end mark";
    case FileProblem::TOO_MANY_ENTRIES: return "the blocks hold more entries than were counted";
    }
    return "unknown problem";
}

int32_t FileProblemResult(FileProblem problem)
{
    switch (problem) {
    case FileProblem::NONE: return IMEX_RESULT_OK;
    case FileProblem::CANNOT_OPEN:
    case FileProblem::READ_ERROR: return IMEX_RESULT_CANNOT_OPEN;
    default: return IMEX_RESULT_BAD_FILE;
    }
}

size_t FieldTextFit(const uint8_t* text, size_t length)
{
    if (length <= SLOT_TEXT_MAX) return length;
    size_t kept = 0;
    while (kept < length) {
        size_t width = (IsCp936LeadByte(text[kept]) && kept + 1 < length) ? 2 : 1;
        if (kept + width > SLOT_TEXT_MAX) break;
        kept += width;
    }
    return kept;
}

bool RecordFile::Fail(FileProblem what, int64_t offset) noexcept
{
    if (problem == FileProblem::NONE) {
        problem = what;
        problemOffset = offset;
    }
    return false;
}

int32_t RecordFile::CheckTrailer(const char* path, int32_t& blockCount) noexcept
{
    problem = FileProblem::NONE;
    problemOffset = 0;
    FileInput trailerFile;
    if (!trailerFile.Open(path)) {
        Fail(FileProblem::CANNOT_OPEN, 0);
        return FileProblemResult(problem);
    }
    int64_t size = 0;
    if (!trailerFile.Size(size)) {
        Fail(FileProblem::READ_ERROR, 0);
        return FileProblemResult(problem);
    }
    if (size < TRAILER_SIZE) {
        Fail(FileProblem::TOO_SHORT, 0);
        return FileProblemResult(problem);
    }
    uint8_t trailer[TRAILER_SIZE];
    if (trailerFile.ReadAt(size - TRAILER_SIZE, trailer, TRAILER_SIZE) != TRAILER_SIZE) {
        Fail(FileProblem::READ_ERROR, size - TRAILER_SIZE);
        return FileProblemResult(problem);
    }
    if (!IsMark(trailer + 4, TRAILER_MAGIC)) {
        Fail(FileProblem::NO_TRAILER_MAGIC, size - 4);
        return FileProblemResult(problem);
    }
    blockCount = ReadLittleEndian32(trailer);
    return IMEX_RESULT_OK;
}

bool RecordFile::Open(const char* path) noexcept
{
    Close();
    problem = FileProblem::NONE;
    problemOffset = 0;
    if (!input.Open(path)) return Fail(FileProblem::CANNOT_OPEN, 0);
    int64_t size = 0;
    if (!input.Size(size)) return Fail(FileProblem::READ_ERROR, 0);
    if (size < TRAILER_SIZE) return Fail(FileProblem::TOO_SHORT, 0);
    dataEnd = size - TRAILER_SIZE;
    Rewind();
    return true;
}

void RecordFile::Close() noexcept
{
    input.Close();
    bufferStart = 0;
    bufferLength = 0;
}

void RecordFile::Rewind() noexcept
{
    cursor = 0;
    scanFrom = 0;
    endMarkAt = 0;
    blockEntries = 0;
    totalEntries = 0;
}

const uint8_t* RecordFile::Span(int64_t offset, int32_t count) noexcept
{
    if (offset >= bufferStart && offset + count <= bufferStart + bufferLength) return buffer + (offset - bufferStart);
    // Callers never ask beyond the data area, so a short read means the
    // file changed under us or the platform failed.
    int32_t got = input.ReadAt(offset, buffer, FILE_READ_BUFFER_SIZE);
    if (got < count) {
        bufferLength = 0;
        Fail(FileProblem::READ_ERROR, offset);
        return nullptr;
    }
    bufferStart = offset;
    bufferLength = got;
    return buffer;
}

bool RecordFile::FindBlockStart() noexcept
{
    if (problem != FileProblem::NONE) return false;
    int64_t position = scanFrom;
    for (;;) {
        // Marks are looked for only where all four bytes lie before the trailer.
        if (position + static_cast<int64_t>(MARK_SIZE) > dataEnd) return Fail(FileProblem::BLOCKS_MISSING, dataEnd);
        const uint8_t* window = Span(position, MARK_SIZE);
        if (window == nullptr) return false;
        int64_t bufferEnd = bufferStart + bufferLength;
        int64_t lastWindow = (bufferEnd < dataEnd ? bufferEnd : dataEnd) - static_cast<int64_t>(MARK_SIZE);
        for (; position <= lastWindow; ++position, ++window) {
            if (window[0] == TRAILER_MAGIC[0] && IsMark(window, TRAILER_MAGIC))
                return Fail(FileProblem::BLOCKS_MISSING, position);
            if (window[0] == BLOCK_START_MARK[0] && IsMark(window, BLOCK_START_MARK)) {
                cursor = position + static_cast<int64_t>(MARK_SIZE);
                return true;
            }
        }
    }
}

bool RecordFile::ReadBlockHeader() noexcept
{
    if (problem != FileProblem::NONE) return false;
    const int64_t headerAt = cursor;
    const int64_t countAt = headerAt + COUNT_FIELD_OFFSET;
    if (countAt + 4 > dataEnd) return Fail(FileProblem::NO_END_MARK, headerAt);
    const uint8_t* header = Span(headerAt, COUNT_FIELD_OFFSET + 4);
    if (header == nullptr) return false;
    const int32_t bodyLength = ReadLittleEndian32(header);
    const int32_t entryCount = ReadLittleEndian32(header + COUNT_FIELD_OFFSET);
    if (bodyLength < MIN_BODY_LENGTH) return Fail(FileProblem::BAD_BODY_LENGTH, headerAt);
    if (entryCount < 0) return Fail(FileProblem::BAD_ENTRY_COUNT, countAt);
    const int64_t endMark = countAt + bodyLength;
    if (endMark + static_cast<int64_t>(MARK_SIZE) > dataEnd) return Fail(FileProblem::NO_END_MARK, endMark);
    const uint8_t* mark = Span(endMark, MARK_SIZE);
    if (mark == nullptr) return false;
    if (!IsMark(mark, BLOCK_END_MARK)) return Fail(FileProblem::NO_END_MARK, endMark);
    // Every entry takes at least its three terminators.
    if (entryCount > (bodyLength - MIN_BODY_LENGTH) / MIN_ENTRY_SIZE)
        return Fail(FileProblem::ENTRIES_PAST_END_MARK, countAt);
    if (static_cast<int64_t>(totalEntries) + entryCount > INT32_MAX) return Fail(FileProblem::BAD_ENTRY_COUNT, countAt);
    blockEntries = entryCount;
    totalEntries += entryCount;
    cursor = countAt;
    endMarkAt = endMark;
    scanFrom = endMark + static_cast<int64_t>(MARK_SIZE);
    return true;
}

bool RecordFile::ReadBlockEntries(RecordTable& table) noexcept
{
    if (problem != FileProblem::NONE) return false;
    cursor += MIN_BODY_LENGTH;  // the count and the spare byte after it
    while (blockEntries > 0) {
        if (table.FillRoom() <= 0) return Fail(FileProblem::TOO_MANY_ENTRIES, cursor);
        if (cursor >= endMarkAt) return Fail(FileProblem::ENTRIES_PAST_END_MARK, cursor);
        RecordSlot& slot = table.Slots()[table.fillCursor];
        if (!ReadFieldString(slot.fieldCode) || !ReadFieldString(slot.label) || !ReadFieldString(slot.value))
            return false;
        ++table.fillCursor;
        --blockEntries;
    }
    return true;
}

bool RecordFile::ReadFieldString(char* field) noexcept
{
    if (problem != FileProblem::NONE) return false;
    const int64_t start = cursor;
    // One byte more than a field holds, so the cut can see a character
    // that straddles the limit.
    uint8_t text[SLOT_FIELD_SIZE];
    size_t length = 0;
    size_t kept = 0;
    int64_t position = start;
    for (;;) {
        if (position >= endMarkAt)
            return Fail(start >= endMarkAt ? FileProblem::ENTRIES_PAST_END_MARK : FileProblem::UNTERMINATED_STRING,
                        start);
        const uint8_t* bytes = Span(position, 1);
        if (bytes == nullptr) return false;
        int64_t available = bufferStart + bufferLength;
        if (available > endMarkAt) available = endMarkAt;
        const size_t chunk = static_cast<size_t>(available - position);
        const void* terminator = std::memchr(bytes, STRING_TERMINATOR, chunk);
        const size_t taken = terminator ? static_cast<size_t>(static_cast<const uint8_t*>(terminator) - bytes) : chunk;
        if (kept < sizeof text) {
            size_t copy = sizeof text - kept < taken ? sizeof text - kept : taken;
            std::memcpy(text + kept, bytes, copy);
            kept += copy;
        }
        length += taken;
        position += static_cast<int64_t>(taken);
        if (terminator != nullptr) {
            ++position;  // past the terminator
            break;
        }
    }
    const size_t fit = FieldTextFit(text, length < kept ? length : kept);
    std::memcpy(field, text, fit);
    field[fit] = '\0';
    cursor = position;
    return true;
}
