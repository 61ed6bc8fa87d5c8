#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FakeHost.h"
#include "RecordAssembly.h"
#include "RecordFile.h"
#include "RecordFileBuilder.h"
#include "RecordSource.h"
#include "RecordTable.h"
#include "TransferDriver.h"
#include "imex.h"

namespace {

const std::string START_MARK("\xAA\xBB\x55\x44", 4);

struct SourceBlock {
    int32_t number = 0;
    int64_t offset = 0;
    std::vector<std::string> entries;  // code|label|value of each entry
    std::string payload;
};

struct SourceRead {
    int32_t result = -1;
    int32_t blockCount = 0;
    std::vector<SourceBlock> blocks;
};

std::string Joined(const RecordSlot& slot)
{
    return std::string(slot.fieldCode) + "|" + slot.label + "|" + slot.value;
}

// Reads `path` the way recfile does: the whole load, then every record.
SourceRead ReadThroughSource(const char* path, size_t maxTableSlots = MAX_TABLE_SLOTS)
{
    auto file = std::make_unique<RecordFile>();
    file->maxTableSlots = maxTableSlots;
    RecordTable table;
    RecordSource source(*file, table);
    SourceRead out;
    out.result = source.Load(path);
    out.blockCount = source.BlockCount();
    if (out.result != IMEX_RESULT_OK) return out;
    auto record = std::make_unique<RecordView>();
    source.StartRecords();
    while (source.NextRecord(*record)) {
        SourceBlock block;
        block.number = record->block.number;
        block.offset = record->block.offset;
        for (int32_t i = 0; i < record->block.entryCount; ++i)
            block.entries.push_back(Joined(record->block.entries[i]));
        block.payload.assign(reinterpret_cast<const char*>(record->payload),
                             static_cast<size_t>(record->payloadLength));
        out.blocks.push_back(block);
    }
    out.result = source.Result();
    return out;
}

struct DriverRun {
    int32_t result = -1;
    std::vector<std::string> payloads;
    std::vector<std::pair<int32_t, int32_t>> reports;
};

void Record(void* context, int32_t block, int32_t blockCount)
{
    static_cast<DriverRun*>(context)->reports.emplace_back(block, blockCount);
}

DriverRun RunDriver(const char* path, size_t maxTableSlots = MAX_TABLE_SLOTS)
{
    auto host = std::make_unique<FakeHost>();
    auto file = std::make_unique<RecordFile>();
    file->maxTableSlots = maxTableSlots;
    DriverRun run;
    run.result = RunImEx(*host, *file, path, TRANSFER_MODE, &Record, &run);
    run.payloads = host->payloads;
    return run;
}

// Both readers over the same file must agree on everything the driver shows.
void ExpectSameThroughBoth(const std::string& bytes, const SourceRead& read, const DriverRun& run)
{
    ASSERT_EQ(read.result, run.result) << "file of " << bytes.size() << " bytes";
    std::vector<std::string> payloads;
    std::vector<std::pair<int32_t, int32_t>> reports;
    for (const SourceBlock& block : read.blocks) {
        payloads.push_back(block.payload);
        reports.emplace_back(block.number, read.blockCount);
    }
    EXPECT_EQ(payloads, run.payloads);
    EXPECT_EQ(reports, run.reports);
}

TEST(RecordSourceAgainstDriver, PayloadsEqualTheDriversSendsOverTheSameFiles)
{
    std::mt19937 rng(20261208);
    size_t recordsCompared = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string bytes = RandomRecordFile(rng);
        TempFile records(bytes);
        const SourceRead read = ReadThroughSource(records.Path());
        ASSERT_EQ(read.result, IMEX_RESULT_OK);
        ExpectSameThroughBoth(bytes, read, RunDriver(records.Path()));
        recordsCompared += read.blocks.size();
    }
    // The files above are not all empty, so records were compared at all.
    EXPECT_GT(recordsCompared, 200u);
}

TEST(RecordSourceAgainstDriver, LongestPayloadIsNotCut)
{
    // Nine slot texts of 255 bytes and 511 bytes of notes: the longest record.
    const std::string full(255, 'v');
    const std::string email = std::string(250, 'x') + "@y.zz";
    const std::string block = RecordFileBuilder()
                                  .Block({{"00", "", full},
                                          {"15", "", full},
                                          {"16", "", full},
                                          {"13", "", full},
                                          {"10", "", full},
                                          {"11", "", full},
                                          {"12", "", full},
                                          {"61", "", email},
                                          {"60", "", full},
                                          {"80", "", std::string(250, 'n')},
                                          {"80", "", std::string(250, 'n')},
                                          {"80", "", "nn"}})
                                  .Finish();
    TempFile records(block);
    const SourceRead read = ReadThroughSource(records.Path());
    ASSERT_EQ(read.blocks.size(), 1u);
    EXPECT_EQ(read.blocks[0].payload.size(), static_cast<size_t>(MAX_PAYLOAD_LENGTH));
    ExpectSameThroughBoth(block, read, RunDriver(records.Path()));
}

TEST(RecordSourceAgainstDriver, BrokenFilesGiveTheSameResultThroughBoth)
{
    const std::string body = EncodeEntries({{"00", "", "A"}});
    const int32_t length = static_cast<int32_t>(body.size() + 5);
    const RecordFileBuilder good = RecordFileBuilder().Block({{"00", "", "A"}});
    std::string badMagic = good.Finish();
    badMagic.back() = '\xBA';
    const std::vector<std::string> broken = {
        "",
        std::string("\xFF\xAA\xFF\xBB", 4),
        badMagic,
        good.Finish(2),                                                     // blocks missing
        RecordFileBuilder(good).RawBlock(length, 2, body).Finish(),         // a second entry past the end mark
        RecordFileBuilder(good).RawBlock(length, 3, body).Finish(),         // more entries than the body can hold
        RecordFileBuilder(good).RawBlock(3, 0, "").Finish(),                // body length below 5
        RecordFileBuilder(good).RawBlock(length, -1, body).Finish(),        // negative entry count
        RecordFileBuilder(good).RawBlock(length, 1, body, false).Finish(),  // no end mark
        RecordFileBuilder(good)
            .RawBlock(10, 1,
                      "00\xFF"
                      "ab")
            .Finish(),  // unterminated label
    };
    for (const std::string& bytes : broken) {
        TempFile records(bytes);
        const SourceRead read = ReadThroughSource(records.Path());
        const DriverRun run = RunDriver(records.Path());
        EXPECT_EQ(read.result, IMEX_RESULT_BAD_FILE) << "file of " << bytes.size() << " bytes";
        EXPECT_TRUE(read.blocks.empty());
        ExpectSameThroughBoth(bytes, read, run);
    }
    const char* missing = "/nonexistent/dir/file.rec";
    const SourceRead read = ReadThroughSource(missing);
    EXPECT_EQ(read.result, IMEX_RESULT_CANNOT_OPEN);
    ExpectSameThroughBoth(missing, read, RunDriver(missing));
}

TEST(RecordSourceAgainstDriver, TableThatCannotBeAllocatedGivesFourThroughBoth)
{
    const std::string bytes =
        RecordFileBuilder().Block({{"00", "", "A"}, {"12", "", "1"}}).Block({{"13", "", "3"}}).Finish();
    TempFile records(bytes);
    const SourceRead read = ReadThroughSource(records.Path(), 2);
    EXPECT_EQ(read.result, IMEX_RESULT_NO_MEMORY);
    ExpectSameThroughBoth(bytes, read, RunDriver(records.Path(), 2));
    // One slot more and the same file reads.
    EXPECT_EQ(ReadThroughSource(records.Path(), 3).result, IMEX_RESULT_OK);
}

TEST(RecordSourceBlocks, EachBlockCarriesItsOffsetAndItsOwnEntries)
{
    const std::vector<TestEntry> first = {{"00", "", "Li"}, {"12", "Tel", "123"}};
    const std::vector<TestEntry> third = {{"13", "x", "3"}};
    const std::string bytes = RecordFileBuilder()
                                  .Junk("abc")
                                  .Block(first)
                                  .Junk(std::string("\xAA\xBB\x55", 3))
                                  .Block({})
                                  .Block(third)
                                  .Finish();
    TempFile records(bytes);
    const SourceRead read = ReadThroughSource(records.Path());
    ASSERT_EQ(read.result, IMEX_RESULT_OK);
    ASSERT_EQ(read.blocks.size(), 3u);
    size_t from = 0;
    for (size_t b = 0; b < read.blocks.size(); ++b) {
        from = bytes.find(START_MARK, from);
        EXPECT_EQ(read.blocks[b].number, static_cast<int32_t>(b + 1));
        EXPECT_EQ(read.blocks[b].offset, static_cast<int64_t>(from));
        ++from;
    }
    EXPECT_EQ(read.blocks[0].entries, std::vector<std::string>({"00||Li", "12|Tel|123"}));
    EXPECT_TRUE(read.blocks[1].entries.empty());
    EXPECT_EQ(read.blocks[2].entries, std::vector<std::string>({"13|x|3"}));
    // The one-block example's record: field 0 Li, field 7 123.
    EXPECT_EQ(read.blocks[0].payload, std::string("Li\0\0\0\0\0\0\0"
                                                  "123\0\0\0\0",
                                                  16));
    EXPECT_EQ(read.blocks[1].payload, std::string(11, '\0'));
}

TEST(RecordSourceBlocks, NoBlockCountMeansNoRecordsAndNoFailure)
{
    for (int32_t count : {0, -5}) {
        TempFile records(RecordFileBuilder().Block({{"00", "", "A"}}).Finish(count));
        const SourceRead read = ReadThroughSource(records.Path());
        EXPECT_EQ(read.result, IMEX_RESULT_OK);
        EXPECT_EQ(read.blockCount, count);
        EXPECT_TRUE(read.blocks.empty());
    }
}

TEST(RecordSourceBlocks, OnlyTheAnnouncedBlocksAreHandedOut)
{
    TempFile records(RecordFileBuilder().Block({{"00", "", "A"}}).Block({{"00", "", "B"}}).Finish(1));
    const SourceRead read = ReadThroughSource(records.Path());
    ASSERT_EQ(read.blocks.size(), 1u);
    EXPECT_EQ(read.blocks[0].entries, std::vector<std::string>({"00||A"}));
}

TEST(RecordSourceBlocks, SendingPassStartedAgainGivesTheSameRecords)
{
    TempFile records(RecordFileBuilder().Block({{"00", "", "A"}, {"80", "N", "n"}}).Block({{"12", "", "1"}}).Finish());
    RecordFile file;
    RecordTable table;
    RecordSource source(file, table);
    ASSERT_EQ(source.Load(records.Path()), IMEX_RESULT_OK);
    std::vector<std::string> passes[2];
    auto record = std::make_unique<RecordView>();
    for (std::vector<std::string>& payloads : passes) {
        source.StartRecords();
        while (source.NextRecord(*record))
            payloads.emplace_back(reinterpret_cast<const char*>(record->payload),
                                  static_cast<size_t>(record->payloadLength));
        EXPECT_EQ(source.Result(), IMEX_RESULT_OK);
    }
    ASSERT_EQ(passes[0].size(), 2u);
    EXPECT_EQ(passes[0], passes[1]);
}

}  // namespace
