// One port's whole transfer: the port checked, opened and locked, the
// device connected (probe, then information request), each record of the
// book sent with exactly one outcome, and the summary line. Runs on its own
// thread beside the other ports'.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

class DeviceExchange;
class ProgressBoard;
struct BookRecord;
struct PortProgress;
class RecordBook;
class TraceWriter;

class PortSender {
public:
    // `label` goes before each line this port prints (empty for a lone
    // port); `row` is its progress line; `trace` may be closed.
    PortSender(std::string port, std::string label, size_t row, const RecordBook& book, ProgressBoard& board,
               TraceWriter& trace, const std::atomic<bool>& stop);

    // Runs the transfer and gives its exit status (SendOptions.h).
    int Run();

    // "N records: S stored, R refused (records i, j), F line faults (records k)".
    static std::string SummaryText(int32_t records, const std::set<int32_t>& refused,
                                   const std::set<int32_t>& lineFaults);

private:
    // Probe and information request; EXIT_ALL_STORED once connected.
    int Connect(DeviceExchange& exchange);
    int SendRecords(DeviceExchange& exchange);
    // Counts the records from `first` on as line faults and says why.
    void LoseRest(const std::vector<BookRecord>& records, size_t first, std::set<int32_t>& lineFaults,
                  PortProgress& progress, bool interrupted, const DeviceExchange& exchange);
    void Print(const std::string& line);

    std::string port_;
    std::string label_;
    size_t row_;
    const RecordBook& book_;
    ProgressBoard& board_;
    TraceWriter& trace_;
    const std::atomic<bool>& stop_;
};
