// The reader of the record file: the trailer check and the block-by-block
// walk that the three passes of a transfer make over the file.
//
// File layout: any bytes, then blocks, then an 8-byte trailer (block count,
// TRAILER_MAGIC). A block is BLOCK_START_MARK, body length L, 4 spare bytes,
// 1 spare byte, entry count C, 1 spare byte, C entries, BLOCK_END_MARK at
// 13 + L. An entry is three strings, each ended by STRING_TERMINATOR.
//
// Reads are buffered; the results are those of a byte-by-byte walk. The
// search for a block starts right after the previous block's end mark and
// never looks into the trailer, so all passes see the same blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FileInput.h"
#include "RecordTable.h"

constexpr uint8_t TRAILER_MAGIC[4] = {0xFF, 0xAA, 0xFF, 0xBB};
constexpr uint8_t BLOCK_START_MARK[4] = {0xAA, 0xBB, 0x55, 0x44};
constexpr uint8_t BLOCK_END_MARK[4] = {0x44, 0x55, 0xBB, 0xAA};
constexpr uint8_t STRING_TERMINATOR = 0xFF;
constexpr size_t MARK_SIZE = 4;
// Block count and TRAILER_MAGIC.
constexpr int64_t TRAILER_SIZE = 8;
// From just after the start mark: body length, 4 spare bytes, 1 spare byte.
constexpr int64_t COUNT_FIELD_OFFSET = 9;
// The body length counts the entry count and the spare byte after it.
constexpr int32_t MIN_BODY_LENGTH = 5;
// The smallest entry: three empty strings, three terminators.
constexpr int32_t MIN_ENTRY_SIZE = 3;
constexpr int32_t FILE_READ_BUFFER_SIZE = 32 * 1024;

// Why the reader stopped. Every problem but CANNOT_OPEN and READ_ERROR is a
// broken file.
enum class FileProblem {
    NONE,
    CANNOT_OPEN,
    READ_ERROR,
    TOO_SHORT,  // no room for the trailer
    NO_TRAILER_MAGIC,
    BLOCKS_MISSING,         // the trailer (or its magic) met before the announced blocks
    BAD_BODY_LENGTH,        // L below MIN_BODY_LENGTH
    BAD_ENTRY_COUNT,        // C below 0, or counts adding up past 32 bits
    NO_END_MARK,            // no BLOCK_END_MARK at 13 + L
    ENTRIES_PAST_END_MARK,  // the C entries do not fit before the end mark
    UNTERMINATED_STRING,    // a string without its terminator before the end mark
    TOO_MANY_ENTRIES,       // more entries than the table was sized for
};

// A short English description, for tools and test messages.
const char* FileProblemText(FileProblem problem);
// The transfer result for a problem: IMEX_RESULT_CANNOT_OPEN or IMEX_RESULT_BAD_FILE.
int32_t FileProblemResult(FileProblem problem);

// How many bytes of a string of `length` bytes fit a slot field: at most
// SLOT_TEXT_MAX, never splitting a CP936 double-byte character.
size_t FieldTextFit(const uint8_t* text, size_t length);

class RecordFile {
public:
    RecordFile() = default;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens `path` on its own, reads the trailer and closes it again. Gives
    // IMEX_RESULT_OK with `blockCount` set, or the result of the problem.
    int32_t CheckTrailer(const char* path, int32_t& blockCount) noexcept;

    // The opening that the passes share; rewinds. False with Problem() set.
    bool Open(const char* path) noexcept;
    void Close() noexcept;
    bool IsOpen() const { return input.IsOpen(); }

    // Back to the first byte; blockEntries and totalEntries to 0.
    void Rewind() noexcept;
    // Moves the cursor just after the next BLOCK_START_MARK.
    bool FindBlockStart() noexcept;
    // Reads and checks the header whose start mark was just found; sets
    // blockEntries, adds to totalEntries, leaves the cursor on the count field.
    bool ReadBlockHeader() noexcept;
    // Fills blockEntries slots at the table's fillCursor; leaves the cursor
    // just after the block's last entry.
    bool ReadBlockEntries(RecordTable& table) noexcept;
    // Reads one string of the current block into a SLOT_FIELD_SIZE field.
    bool ReadFieldString(char* field) noexcept;

    FileProblem Problem() const { return problem; }
    // Byte offset in the file where the problem was found.
    int64_t ProblemOffset() const { return problemOffset; }
    int64_t Position() const { return cursor; }

    int32_t blockEntries = 0;
    int32_t totalEntries = 0;
    // Upper bound on the table the driver allocates for this file.
    size_t maxTableSlots = MAX_TABLE_SLOTS;

private:
    bool Fail(FileProblem what, int64_t offset) noexcept;
    // Makes [offset, offset + count) readable from the buffer; null on failure.
    const uint8_t* Span(int64_t offset, int32_t count) noexcept;

    FileInput input;
    int64_t dataEnd = 0;  // where the trailer begins
    int64_t cursor = 0;
    int64_t scanFrom = 0;   // where the next block search begins
    int64_t endMarkAt = 0;  // end mark of the block whose header was read last
    FileProblem problem = FileProblem::NONE;
    int64_t problemOffset = 0;
    int64_t bufferStart = 0;
    int32_t bufferLength = 0;
    uint8_t buffer[FILE_READ_BUFFER_SIZE];
};
