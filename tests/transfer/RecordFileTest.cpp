#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ByteWiseReader.h"
#include "RecordFile.h"
#include "RecordFileBuilder.h"
#include "imex.h"

namespace {

// The 48-byte file with one block of two entries.
const std::string EXAMPLE_BLOCK = std::string(
    "\xAA\xBB\x55\x44"
    "\x17\x00\x00\x00"
    "\x00\x00\x00\x00"
    "\x00"
    "\x02\x00\x00\x00"
    "\x00"
    "\x30\x30\xFF\xFF\x4C\x69\xFF"
    "\x31\x32\xFF\x54\x65\x6C\xFF\x31\x32\x33\xFF"
    "\x44\x55\xBB\xAA",
    40);
const std::string EXAMPLE_TRAILER = std::string("\x01\x00\x00\x00\xFF\xAA\xFF\xBB", 8);

// Runs the counting and the filling pass the way the driver does.
struct ReadOutcome {
    int32_t checkResult = -1;
    int32_t blockCount = 0;
    bool counted = false;
    bool filled = false;
    int32_t countedEntries = 0;
    std::vector<int64_t> positionsAfterEntries;
    FileProblem problem = FileProblem::NONE;
    int64_t problemOffset = 0;
    RecordTable table;
};

void ReadRecordFile(const std::string& bytes, ReadOutcome& out)
{
    TempFile file(bytes);
    auto reader = std::make_unique<RecordFile>();
    out.checkResult = reader->CheckTrailer(file.Path(), out.blockCount);
    out.problem = reader->Problem();
    if (out.checkResult != IMEX_RESULT_OK) return;
    ASSERT_TRUE(reader->Open(file.Path()));
    out.counted = true;
    for (int32_t b = 0; b < out.blockCount && out.counted; ++b)
        out.counted = reader->FindBlockStart() && reader->ReadBlockHeader();
    out.countedEntries = reader->totalEntries;
    if (out.counted) {
        ASSERT_TRUE(out.table.Allocate(reader->totalEntries));
        reader->Rewind();
        out.filled = true;
        for (int32_t b = 0; b < out.blockCount && out.filled; ++b) {
            out.filled = reader->FindBlockStart() && reader->ReadBlockHeader() && reader->ReadBlockEntries(out.table);
            if (out.filled) out.positionsAfterEntries.push_back(reader->Position());
        }
    }
    out.problem = reader->Problem();
    out.problemOffset = reader->ProblemOffset();
}

// The slots a table holds, as its cursor and room show them.
int32_t SlotsOf(const RecordTable& table)
{
    return table.fillCursor + table.FillRoom();
}

void ExpectExampleSlots(RecordTable& table, int32_t first = 0)
{
    ASSERT_GE(SlotsOf(table), first + 2);
    const RecordSlot* slots = table.Slots() + first;
    EXPECT_STREQ(slots[0].fieldCode, "00");
    EXPECT_STREQ(slots[0].label, "");
    EXPECT_STREQ(slots[0].value, "Li");
    EXPECT_STREQ(slots[1].fieldCode, "12");
    EXPECT_STREQ(slots[1].label, "Tel");
    EXPECT_STREQ(slots[1].value, "123");
}

TEST(RecordFileLayout, OneBlockExampleFillsTwoSlotsAndStopsOnTheEndMark)
{
    ReadOutcome out;
    ReadRecordFile(EXAMPLE_BLOCK + EXAMPLE_TRAILER, out);
    ASSERT_EQ(out.checkResult, IMEX_RESULT_OK);
    EXPECT_EQ(out.blockCount, 1);
    EXPECT_EQ(out.countedEntries, 2);
    ASSERT_TRUE(out.filled);
    ExpectExampleSlots(out.table);
    EXPECT_EQ(out.table.fillCursor, 2);
    ASSERT_EQ(out.positionsAfterEntries.size(), 1u);
    EXPECT_EQ(out.positionsAfterEntries[0], 36);
}

TEST(RecordFileLayout, JunkBeforeTheFirstBlockIsSkipped)
{
    for (const std::string& junk : {std::string("hello"), std::string("\xAA\xBB\x55", 3),
                                    std::string("\xAA\xAA\xBB\x55\x00\xAA", 6), std::string(70000, 'x')}) {
        ReadOutcome out;
        ReadRecordFile(junk + EXAMPLE_BLOCK + EXAMPLE_TRAILER, out);
        ASSERT_TRUE(out.filled) << junk.size();
        ExpectExampleSlots(out.table);
        EXPECT_EQ(out.positionsAfterEntries[0], static_cast<int64_t>(36 + junk.size()));
    }
}

TEST(RecordFileLayout, StartMarkOverlappingAnEarlierCandidateIsFound)
{
    // AA AA BB 55 44: the mark begins at the second AA.
    ReadOutcome out;
    ReadRecordFile(std::string("\xAA", 1) + EXAMPLE_BLOCK + EXAMPLE_TRAILER, out);
    ASSERT_TRUE(out.filled);
    ExpectExampleSlots(out.table);
    EXPECT_EQ(out.positionsAfterEntries[0], 37);
}

TEST(RecordFileLayout, EmptyBlockHasNoSlotAndTheNextBlockKeepsItsEntries)
{
    std::string bytes =
        RecordFileBuilder().Block({}).Junk("zz").Block({{"00", "", "Li"}, {"12", "Tel", "123"}}).Finish();
    ReadOutcome out;
    ReadRecordFile(bytes, out);
    ASSERT_TRUE(out.filled);
    EXPECT_EQ(out.countedEntries, 2);
    ExpectExampleSlots(out.table);
}

TEST(RecordFileLayout, OnlyTheAnnouncedBlocksAreRead)
{
    std::string bytes =
        RecordFileBuilder().Block({{"00", "", "A"}}).Block({{"00", "", "B"}}).Junk("\x01\x02").Finish(1);
    ReadOutcome out;
    ReadRecordFile(bytes, out);
    ASSERT_TRUE(out.filled);
    ASSERT_EQ(SlotsOf(out.table), 1);
    EXPECT_STREQ(out.table.Slots()[0].value, "A");
}

TEST(RecordFileLayout, ZeroOrNegativeBlockCountReadsNothing)
{
    for (int32_t count : {0, -1, INT32_MIN}) {
        ReadOutcome out;
        ReadRecordFile(RecordFileBuilder().Block({{"00", "", "A"}}).Finish(count), out);
        EXPECT_EQ(out.blockCount, count);
        EXPECT_TRUE(out.filled);
        EXPECT_EQ(SlotsOf(out.table), 0);
    }
}

TEST(RecordFileLayout, BytesBetweenLastEntryAndEndMarkAreAccepted)
{
    std::string body = EncodeEntries({{"00", "", "Li"}}) + "padding";
    ReadOutcome out;
    ReadRecordFile(RecordFileBuilder().RawBlock(static_cast<int32_t>(body.size() + 5), 1, body).Finish(), out);
    ASSERT_TRUE(out.filled);
    EXPECT_STREQ(out.table.Slots()[0].value, "Li");
}

TEST(RecordFileStrings, EmptyExactAndNulHoldingStringsLandWhole)
{
    std::string full(255, 'a');
    std::string withNul("ab\0cd", 5);
    ReadOutcome out;
    ReadRecordFile(RecordFileBuilder().Block({{"", full, withNul}}).Finish(), out);
    ASSERT_TRUE(out.filled);
    const RecordSlot& slot = out.table.Slots()[0];
    EXPECT_STREQ(slot.fieldCode, "");
    EXPECT_EQ(std::string(slot.label), full);
    EXPECT_EQ(std::string(slot.value, 5), withNul);
    EXPECT_EQ(slot.value[5], '\0');
}

TEST(RecordFileStrings, LongStringsAreCutWithoutSplittingADoubleByteCharacter)
{
    const std::string ascii(300, 'a');
    const std::string evenChinese = std::string(254, 'a') + "\xD6\xD0" + "tail";  // character at 254..255
    const std::string oddChinese = std::string(253, 'a') + "\xD6\xD0" + "tail";   // character at 253..254
    std::string manyChinese;
    for (int i = 0; i < 200; ++i)
        manyChinese += "\xCE\xC4";
    ReadOutcome out;
    ReadRecordFile(RecordFileBuilder().Block({{ascii, evenChinese, oddChinese}, {"00", manyChinese, ""}}).Finish(),
                   out);
    ASSERT_TRUE(out.filled);
    const RecordSlot* slots = out.table.Slots();
    EXPECT_EQ(std::string(slots[0].fieldCode), std::string(255, 'a'));
    EXPECT_EQ(std::string(slots[0].label), std::string(254, 'a'));
    EXPECT_EQ(std::string(slots[0].value), std::string(253, 'a') + "\xD6\xD0");
    EXPECT_EQ(std::string(slots[1].label), manyChinese.substr(0, 254));
    // The reader moved past the whole long strings.
    EXPECT_STREQ(slots[1].fieldCode, "00");
}

TEST(RecordFileTrailer, MissingShortAndDamagedFilesAreRefused)
{
    RecordFile reader;
    int32_t count = 0;
    EXPECT_EQ(reader.CheckTrailer("/nonexistent/dir/file.rec", count), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(reader.CheckTrailer(nullptr, count), IMEX_RESULT_CANNOT_OPEN);
    TempFile empty("");
    EXPECT_EQ(reader.CheckTrailer(empty.Path(), count), IMEX_RESULT_BAD_FILE);
    EXPECT_EQ(reader.Problem(), FileProblem::TOO_SHORT);
    TempFile seven(std::string("\x01\x00\x00\xFF\xAA\xFF\xBB", 7));
    EXPECT_EQ(reader.CheckTrailer(seven.Path(), count), IMEX_RESULT_BAD_FILE);
    std::string damaged = EXAMPLE_BLOCK + EXAMPLE_TRAILER;
    damaged.back() = '\xBA';
    TempFile bad(damaged);
    EXPECT_EQ(reader.CheckTrailer(bad.Path(), count), IMEX_RESULT_BAD_FILE);
    EXPECT_EQ(reader.Problem(), FileProblem::NO_TRAILER_MAGIC);
    TempFile bare(std::string("\xFE\xFF\xFF\xFF\xFF\xAA\xFF\xBB", 8));
    EXPECT_EQ(reader.CheckTrailer(bare.Path(), count), IMEX_RESULT_OK);
    EXPECT_EQ(count, -2);
}

struct BrokenCase {
    const char* name;
    std::string bytes;
    FileProblem problem;
};

TEST(RecordFileBroken, StructuralFaultsAreFoundBeforeAnyRecordIsAssembled)
{
    const std::string goodBody = EncodeEntries({{"00", "", "Li"}});
    const int32_t goodLength = static_cast<int32_t>(goodBody.size() + 5);
    const std::vector<BrokenCase> cases = {
        {"fewer blocks than announced", RecordFileBuilder().Block({{"00", "", "A"}}).Finish(2),
         FileProblem::BLOCKS_MISSING},
        {"no block at all", RecordFileBuilder().Junk("abc").Finish(1), FileProblem::BLOCKS_MISSING},
        {"trailer magic in the junk", RecordFileBuilder().Junk("\xFF\xAA\xFF\xBB").Block({}).Finish(1),
         FileProblem::BLOCKS_MISSING},
        {"start mark inside the trailer", RecordFileBuilder().Junk("ab").Finish(static_cast<int32_t>(0x4455BBAA)),
         FileProblem::BLOCKS_MISSING},
        {"body length below 5", RecordFileBuilder().RawBlock(4, 0, "").Finish(), FileProblem::BAD_BODY_LENGTH},
        {"negative body length", RecordFileBuilder().RawBlock(-20, 0, "").Finish(), FileProblem::BAD_BODY_LENGTH},
        {"negative entry count", RecordFileBuilder().RawBlock(goodLength, -1, goodBody).Finish(),
         FileProblem::BAD_ENTRY_COUNT},
        {"end mark missing", RecordFileBuilder().RawBlock(goodLength, 1, goodBody, false).Junk("xxxxxxxx").Finish(),
         FileProblem::NO_END_MARK},
        {"end mark misplaced", RecordFileBuilder().RawBlock(goodLength + 1, 1, goodBody).Junk("xxxx").Finish(),
         FileProblem::NO_END_MARK},
        {"body length past the trailer", RecordFileBuilder().RawBlock(0x7FFFFFFF, 1, goodBody).Finish(),
         FileProblem::NO_END_MARK},
        {"header cut by the trailer", RecordFileBuilder().Junk("\xAA\xBB\x55\x44\x05\x00").Finish(1),
         FileProblem::NO_END_MARK},
        {"count far beyond the body", RecordFileBuilder().RawBlock(goodLength, 1000, goodBody).Finish(),
         FileProblem::ENTRIES_PAST_END_MARK},
        {"count one beyond the entries", RecordFileBuilder().RawBlock(goodLength, 2, goodBody).Finish(),
         FileProblem::ENTRIES_PAST_END_MARK},
        {"string without terminator",
         RecordFileBuilder().RawBlock(goodLength, 1, goodBody.substr(0, goodBody.size() - 1) + "x").Finish(),
         FileProblem::UNTERMINATED_STRING},
    };
    for (const BrokenCase& broken : cases) {
        ReadOutcome out;
        ReadRecordFile(broken.bytes, out);
        EXPECT_EQ(out.checkResult, IMEX_RESULT_OK) << broken.name;
        EXPECT_FALSE(out.counted && out.filled) << broken.name;
        EXPECT_EQ(out.problem, broken.problem) << broken.name << ": " << FileProblemText(out.problem);
        EXPECT_EQ(FileProblemResult(out.problem), IMEX_RESULT_BAD_FILE) << broken.name;
        EXPECT_LE(out.table.fillCursor, SlotsOf(out.table)) << broken.name;
    }
}

TEST(RecordFileBroken, ProblemOffsetsPointAtTheFault)
{
    ReadOutcome out;
    ReadRecordFile(RecordFileBuilder().Junk("abc").RawBlock(4, 0, "").Finish(), out);
    EXPECT_EQ(out.problem, FileProblem::BAD_BODY_LENGTH);
    EXPECT_EQ(out.problemOffset, 7);  // the body length field, just after the mark
}

TEST(RecordFileBuffering, BufferedReaderMatchesTheByteWiseWalk)
{
    std::mt19937 random(20261207);
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        int32_t blockCount = 0;
        std::string bytes = RandomRecordFile(random, &blockCount);
        TempFile file(bytes);
        ByteWiseResult expected = ReadByteWise(file.Path(), blockCount);
        ReadOutcome out;
        ReadRecordFile(bytes, out);
        ASSERT_EQ(out.filled, expected.complete) << "round " << round << ": " << FileProblemText(out.problem) << " at "
                                                 << out.problemOffset << " of " << bytes.size();
        if (!expected.complete) continue;
        ++compared;
        EXPECT_EQ(out.countedEntries, expected.countedEntries);
        EXPECT_EQ(out.positionsAfterEntries, expected.positionsAfterEntries) << "round " << round;
        ASSERT_EQ(SlotsOf(out.table), static_cast<int32_t>(expected.slots.size()));
        for (size_t i = 0; i < expected.slots.size(); ++i) {
            const RecordSlot& slot = out.table.Slots()[i];
            EXPECT_EQ(slot.fieldCode, expected.slots[i].fieldCode) << "round " << round << " slot " << i;
            EXPECT_EQ(slot.label, expected.slots[i].label) << "round " << round << " slot " << i;
            EXPECT_EQ(slot.value, expected.slots[i].value) << "round " << round << " slot " << i;
        }
    }
    EXPECT_GT(compared, 250);
}

TEST(RecordFileBuffering, BlocksAcrossBufferBoundariesReadTheSame)
{
    // Blocks that straddle the read buffer's edges at every small offset.
    for (size_t shift = 0; shift < 8; ++shift) {
        std::string junk(static_cast<size_t>(FILE_READ_BUFFER_SIZE) - 20 + shift, 'j');
        std::string bytes = RecordFileBuilder().Junk(junk).Block({{"00", "", "Li"}, {"12", "Tel", "123"}}).Finish();
        ReadOutcome out;
        ReadRecordFile(bytes, out);
        ASSERT_TRUE(out.filled) << shift;
        ExpectExampleSlots(out.table);
    }
}

TEST(RecordTableAllocation, LimitAndZeroSizeBehave)
{
    RecordTable table;
    EXPECT_TRUE(table.Allocate(1));
    EXPECT_FALSE(table.Allocate(3, 2));
    EXPECT_EQ(table.Slots(), nullptr);
    EXPECT_EQ(SlotsOf(table), 0);
    EXPECT_TRUE(table.Allocate(0));
    EXPECT_FALSE(table.Allocate(-1));
    EXPECT_TRUE(table.Allocate(3, 3));
    EXPECT_EQ(table.FillRoom(), 3);
}

}  // namespace
