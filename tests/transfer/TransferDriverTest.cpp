#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FakeHost.h"
#include "FileInput.h"
#include "RecordFile.h"
#include "RecordFileBuilder.h"
#include "TransferDriver.h"
#include "TransferHost.h"
#include "imex.h"

namespace {

struct Progress {
    std::function<void(int32_t, int32_t)> hook;
    FakeHost* host = nullptr;
    static void Report(void* context, int32_t block, int32_t blockCount)
    {
        Progress* self = static_cast<Progress*>(context);
        self->host->events.push_back("progress " + std::to_string(block) + "/" + std::to_string(blockCount));
        if (self->hook) self->hook(block, blockCount);
    }
};

class TransferDriverTest : public ::testing::Test {
protected:
    int32_t Run(const char* path, int32_t mode = TRANSFER_MODE)
    {
        progress.host = &host;
        return RunImEx(host, *file, path, mode, &Progress::Report, &progress);
    }
    std::vector<std::string> Events(std::initializer_list<const char*> list) { return {list.begin(), list.end()}; }

    FakeHost host;
    std::unique_ptr<RecordFile> file = std::make_unique<RecordFile>();
    Progress progress;
};

std::string ThreeBlockFile()
{
    return RecordFileBuilder()
        .Block({{"00", "", "A"}, {"12", "Tel", "1"}})
        .Junk("junk")
        .Block({})
        .Block({{"13", "", "3"}})
        .Finish();
}

TEST_F(TransferDriverTest, ThreeBlocksAreReportedThenSentInOrder)
{
    TempFile records(ThreeBlockFile());
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_OK);
    EXPECT_EQ(host.events, Events({"create", "connect COM1", "progress 1/3", "send 33", "progress 2/3", "send 66",
                                   "progress 3/3", "send 100", "destroy"}));
    ASSERT_EQ(host.payloads.size(), 3u);
    EXPECT_EQ(host.payloads[0], std::string("A\0\0\0\0\0\0\0001\0\0\0", 13));
    EXPECT_EQ(host.payloads[1], std::string(11, '\0'));
    EXPECT_EQ(host.payloads[2], std::string("\0\0\0\0003\0\0\0\0\0\0", 12));
    EXPECT_FALSE(file->IsOpen());
    for (const char* text : host.fieldTexts)
        EXPECT_STREQ(text, "");
}

TEST_F(TransferDriverTest, SecondTransferStartsAgainAtTheFirstPercentage)
{
    TempFile records(ThreeBlockFile());
    ASSERT_EQ(Run(records.Path()), IMEX_RESULT_OK);
    host.events.clear();
    host.connectAttempts = 0;
    ASSERT_EQ(Run(records.Path()), IMEX_RESULT_OK);
    EXPECT_EQ(host.events[3], "send 33");
    EXPECT_EQ(host.recordCounter, 4);
}

TEST_F(TransferDriverTest, FieldTextsAreEmptyBetweenRecords)
{
    TempFile records(ThreeBlockFile());
    std::vector<std::string> seen;
    progress.hook = [&](int32_t, int32_t) {
        std::string all;
        for (const char* text : host.fieldTexts)
            all += text;
        seen.push_back(all);
    };
    ASSERT_EQ(Run(records.Path()), IMEX_RESULT_OK);
    EXPECT_EQ(seen, std::vector<std::string>(3, ""));
}

TEST_F(TransferDriverTest, OtherModesDoNothing)
{
    TempFile records(ThreeBlockFile());
    EXPECT_EQ(Run(records.Path(), 0), IMEX_RESULT_OK);
    EXPECT_EQ(Run(records.Path(), 2), IMEX_RESULT_OK);
    EXPECT_EQ(Run(nullptr, -1), IMEX_RESULT_OK);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(TransferDriverTest, UnopenableAndDamagedFilesStopBeforeAnyWindow)
{
    EXPECT_EQ(Run(nullptr), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(Run("/nonexistent/dir/file.rec"), IMEX_RESULT_CANNOT_OPEN);
    std::string damaged = ThreeBlockFile();
    damaged.back() = '\xBA';
    TempFile bad(damaged);
    EXPECT_EQ(Run(bad.Path()), IMEX_RESULT_BAD_FILE);
    TempFile tiny("\xFF\xAA");
    EXPECT_EQ(Run(tiny.Path()), IMEX_RESULT_BAD_FILE);
    EXPECT_TRUE(host.events.empty());
}

TEST_F(TransferDriverTest, NoDeviceOnEitherPortGivesSeven)
{
    TempFile records(ThreeBlockFile());
    host.connectAnswers = {false, false};
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_NO_DEVICE);
    EXPECT_EQ(host.events, Events({"create", "connect COM1", "connect COM2", "destroy"}));
}

TEST_F(TransferDriverTest, SecondPortIsTriedWhenTheFirstFails)
{
    TempFile records(ThreeBlockFile());
    host.connectAnswers = {false, true};
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_OK);
    EXPECT_EQ(host.events[2], "connect COM2");
    EXPECT_EQ(host.payloads.size(), 3u);
}

TEST_F(TransferDriverTest, HostWindowThatCannotBeCreatedEndsTheCall)
{
    TempFile records(ThreeBlockFile());
    host.createSucceeds = false;
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_NO_DEVICE);
    EXPECT_EQ(host.events, Events({"create"}));
}

TEST_F(TransferDriverTest, ZeroOrNegativeBlockCountConnectsAndSendsNothing)
{
    for (int32_t count : {0, -5}) {
        host.events.clear();
        host.connectAttempts = 0;
        TempFile records(RecordFileBuilder().Block({{"00", "", "A"}}).Finish(count));
        EXPECT_EQ(Run(records.Path()), IMEX_RESULT_OK);
        EXPECT_EQ(host.events, Events({"create", "connect COM1", "destroy"}));
    }
}

TEST_F(TransferDriverTest, TableThatCannotBeAllocatedGivesFour)
{
    TempFile records(ThreeBlockFile());
    file->maxTableSlots = 2;  // the file holds three entries
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_NO_MEMORY);
    EXPECT_EQ(host.events, Events({"create", "connect COM1", "destroy"}));
    EXPECT_FALSE(file->IsOpen());
    // Closed for real: an exclusive opening succeeds again.
    FileInput again;
    EXPECT_TRUE(again.Open(records.Path()));
}

TEST_F(TransferDriverTest, LostConnectionGivesSixAfterTheRecordsBefore)
{
    TempFile records(ThreeBlockFile());
    progress.hook = [&](int32_t block, int32_t) {
        if (block == 2) host.SetConnected(false);
    };
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_NOT_CONNECTED);
    EXPECT_EQ(host.events, Events({"create", "connect COM1", "progress 1/3", "send 33", "progress 2/3", "destroy"}));
    EXPECT_FALSE(file->IsOpen());
    for (const char* text : host.fieldTexts)
        EXPECT_STREQ(text, "");
}

TEST_F(TransferDriverTest, BrokenFileAfterConnectingGivesThreeAndSendsNothing)
{
    const std::string body = EncodeEntries({{"00", "", "A"}});
    const std::vector<std::string> broken = {
        RecordFileBuilder().Block({{"00", "", "A"}}).Finish(2),
        RecordFileBuilder().Block({{"00", "", "A"}}).RawBlock(static_cast<int32_t>(body.size() + 5), 2, body).Finish(),
        RecordFileBuilder().Block({{"00", "", "A"}}).RawBlock(3, 0, "").Finish(),
    };
    for (const std::string& bytes : broken) {
        host.events.clear();
        host.connectAttempts = 0;
        TempFile records(bytes);
        EXPECT_EQ(Run(records.Path()), IMEX_RESULT_BAD_FILE);
        EXPECT_EQ(host.events, Events({"create", "connect COM1", "destroy"}));
        EXPECT_FALSE(file->IsOpen());
    }
}

TEST_F(TransferDriverTest, FileHeldByAnotherOpenerAfterConnectingGivesTwo)
{
    TempFile records(ThreeBlockFile());
    FileInput holder;
    host.onConnect = [&] { ASSERT_TRUE(holder.Open(records.Path())); };
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_CANNOT_OPEN);
    EXPECT_EQ(host.events, Events({"create", "connect COM1", "destroy"}));
}

TEST_F(TransferDriverTest, CallsMadeWhileRunningAreRefusedWithOne)
{
    TempFile records(ThreeBlockFile());
    std::vector<int32_t> nested;
    progress.hook = [&](int32_t block, int32_t) {
        if (block != 1) return;
        FakeHost other;
        RecordFile otherFile;
        nested.push_back(RunImEx(other, otherFile, records.Path(), TRANSFER_MODE, nullptr, nullptr));
        nested.push_back(RunImEx(host, *file, records.Path(), TRANSFER_MODE, nullptr, nullptr));
        std::thread elsewhere(
            [&] { nested.push_back(RunImEx(other, otherFile, records.Path(), TRANSFER_MODE, nullptr, nullptr)); });
        elsewhere.join();
        // A refused mode answers 0 as always, running transfer or not.
        nested.push_back(RunImEx(other, otherFile, records.Path(), 2, nullptr, nullptr));
        EXPECT_TRUE(other.events.empty());
    };
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_OK);
    EXPECT_EQ(nested, std::vector<int32_t>({IMEX_RESULT_BUSY, IMEX_RESULT_BUSY, IMEX_RESULT_BUSY, IMEX_RESULT_OK}));
    EXPECT_EQ(host.payloads.size(), 3u);
    // Free again once the call has returned.
    host.connectAttempts = 0;
    EXPECT_EQ(Run(records.Path()), IMEX_RESULT_OK);
}

TEST_F(TransferDriverTest, NullCallbackIsNotCalled)
{
    TempFile records(ThreeBlockFile());
    EXPECT_EQ(RunImEx(host, *file, records.Path(), TRANSFER_MODE, nullptr, nullptr), IMEX_RESULT_OK);
    EXPECT_EQ(host.payloads.size(), 3u);
}

class SendRecordTest : public ::testing::Test {
protected:
    FakeHost host;
};

TEST_F(SendRecordTest, NotConnectedSendsNothing)
{
    host.SetConnected(false);
    EXPECT_FALSE(host.SendRecord());
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(host.recordCounter, 1);
}

TEST_F(SendRecordTest, SevenRecordsShowTheirPercentages)
{
    host.SetConnected(true);
    host.recordTotal = 7;
    for (int i = 0; i < 7; ++i)
        ASSERT_TRUE(host.SendRecord());
    EXPECT_EQ(host.events,
              std::vector<std::string>({"send 14", "send 28", "send 42", "send 57", "send 71", "send 85", "send 100"}));
}

TEST_F(SendRecordTest, ExtremeCountersNeitherOverflowNorDivideByZero)
{
    host.SetConnected(true);
    host.recordTotal = 0;
    EXPECT_TRUE(host.SendRecord());
    host.recordTotal = INT32_MAX;
    host.recordCounter = INT32_MAX;
    EXPECT_TRUE(host.SendRecord());
    EXPECT_EQ(host.recordCounter, INT32_MAX);
    host.recordTotal = -3;
    host.recordCounter = 1;
    EXPECT_TRUE(host.SendRecord());
    EXPECT_EQ(host.events, std::vector<std::string>({"send 0", "send 100", "send -33"}));
}

}  // namespace
