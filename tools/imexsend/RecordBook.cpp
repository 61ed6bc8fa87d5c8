#include "RecordBook.h"

#include <memory>

#include "DeviceMessages.h"
#include "RecordFile.h"
#include "RecordSource.h"
#include "imex.h"

int32_t RecordBook::Load(const std::string& path, std::string& error)
{
    // Both are large; the heap keeps them off the stack.
    auto file = std::make_unique<RecordFile>();
    auto record = std::make_unique<RecordView>();
    RecordTable table;
    RecordSource source(*file, table);
    int32_t result = source.Load(path.c_str());
    if (result == IMEX_RESULT_OK) {
        source.StartRecords();
        while (source.NextRecord(*record))
            records_.push_back(
                {record->block.number, std::vector<uint8_t>(record->payload, record->payload + record->payloadLength)});
        result = source.Result();
    }
    file->Close();
    if (result == IMEX_RESULT_NO_MEMORY)
        error = path + ": the record table cannot be allocated";
    else if (result != IMEX_RESULT_OK)
        error = path + ": " + FileProblemText(file->Problem()) + " (byte offset " +
                std::to_string(static_cast<long long>(file->ProblemOffset())) + ")";
    if (result != IMEX_RESULT_OK) records_.clear();
    return result;
}

void RecordBook::Keep(const std::set<int32_t>& numbers)
{
    std::vector<BookRecord> kept;
    for (BookRecord& record : records_) {
        if (numbers.count(record.number) != 0) kept.push_back(std::move(record));
    }
    records_ = std::move(kept);
}

uint64_t RecordBook::WireBytes() const
{
    // Every port's thread asks: the work areas are its own.
    uint8_t message[FRAME_BUFFER_SIZE];
    uint8_t frame[STUFFED_FRAME_SIZE];
    uint64_t total = 0;
    for (const BookRecord& record : records_) {
        const size_t length = BuildRecordRequest(message, RECORD_FLAG, static_cast<uint16_t>(record.payload.size()),
                                                 record.payload.data());
        total += BuildFrame(message, length, frame);
    }
    return total;
}
