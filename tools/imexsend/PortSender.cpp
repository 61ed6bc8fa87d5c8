#include "PortSender.h"

#include <termios.h>

#include <chrono>
#include <memory>

#include "Cp936Converter.h"
#include "DeviceExchange.h"
#include "DeviceMessages.h"
#include "LineTrace.h"
#include "OutcomeSummary.h"
#include "PortCheck.h"
#include "ProgressBoard.h"
#include "RecordBook.h"
#include "SendOptions.h"
#include "SerialLine.h"
#include "TraceWriter.h"

namespace {

// After a record that got no answer in time, the line is listened to this
// long before the next record goes out: replies carry no sequence number, so
// a reply that comes late would otherwise answer the next record. (The DLL's
// line-fault message box gives the same pause while someone reads it.)
constexpr uint32_t LATE_REPLY_WAIT_MS = 3000;

}  // namespace

PortSender::PortSender(std::string port, std::string label, size_t row, const RecordBook& book, ProgressBoard& board,
                       TraceWriter& trace, const std::atomic<bool>& stop)
    : port_(std::move(port)),
      label_(std::move(label)),
      row_(row),
      book_(book),
      board_(board),
      trace_(trace),
      stop_(stop)
{
}

std::string PortSender::SummaryText(int32_t records, const std::set<int32_t>& refused,
                                    const std::set<int32_t>& lineFaults)
{
    return RecordsSummary(records, refused, lineFaults);
}

void PortSender::Print(const std::string& line)
{
    board_.Print(label_ + line);
}

int PortSender::Run()
{
    std::string error;
    SerialLine line;
    if (!CheckPort(port_, error) || !line.OpenDevice(port_, error)) {
        Print("no record sent: " + error);
        return EXIT_PORT;
    }
    std::unique_ptr<LineTrace> trace = trace_.IsOpen() ? trace_.TraceFor(label_.empty() ? "" : port_) : nullptr;
    DeviceExchange exchange(line.fd(), trace.get(), stop_);
    int status = Connect(exchange);
    if (status == EXIT_ALL_STORED) status = SendRecords(exchange);
    exchange.FlushTrace(true);
    // As the DLL's port leaves the line: nothing pending either way.
    tcflush(line.fd(), TCIOFLUSH);
    return status;
}

int PortSender::Connect(DeviceExchange& exchange)
{
    uint8_t request[FRAME_BUFFER_SIZE];
    uint8_t reply[FRAME_BUFFER_SIZE];
    size_t replyLength = 0;
    ExchangeOutcome outcome =
        exchange.Run(request, BuildProbeRequest(request, PROBE_FILLER_COUNT), PROBE_TIMEOUT_MS, reply, replyLength);
    if (outcome == ExchangeOutcome::REPLIED)
        outcome = exchange.Run(request, BuildInfoRequest(request), INFO_TIMEOUT_MS, reply, replyLength);
    switch (outcome) {
    case ExchangeOutcome::REPLIED: break;
    case ExchangeOutcome::TIMED_OUT:
        Print("no record sent: no device answered on " + port_ +
              " (is it on, connected and waiting for a connection?)");
        return EXIT_NO_DEVICE;
    case ExchangeOutcome::LINE_LOST:
        Print("no record sent: the line " + port_ + " was lost (" + exchange.lostReason() + ")");
        return EXIT_PORT;
    case ExchangeOutcome::INTERRUPTED: Print("no record sent: interrupted"); return EXIT_INTERRUPTED;
    }
    const InfoReply info = ReadInfoReply(reply, replyLength);
    const size_t count = book_.records().size();
    Print("device \"" + Cp936ToUtf8(info.serverType) + "\", " + std::to_string(info.freeKb) + " KB free; sending " +
          std::to_string(count) + (count == 1 ? " record, " : " records, ") + std::to_string(book_.WireBytes()) +
          " B on the wire");
    return EXIT_ALL_STORED;
}

void PortSender::LoseRest(const std::vector<BookRecord>& records, size_t first, std::set<int32_t>& lineFaults,
                          PortProgress& progress, bool interrupted, const DeviceExchange& exchange)
{
    // The line is gone (or we are told to stop): no record from here on
    // was answered.
    for (size_t rest = first; rest < records.size(); ++rest)
        lineFaults.insert(records[rest].number);
    progress.lineFaults += static_cast<int32_t>(records.size() - first);
    const std::string name = "record " + std::to_string(records[first].number);
    Print((interrupted ? "interrupted before " + name + " was answered"
                       : "the line was lost before " + name + " was answered (" + exchange.lostReason() + ")") +
          "; the records not answered count as line faults");
}

int PortSender::SendRecords(DeviceExchange& exchange)
{
    static thread_local uint8_t request[FRAME_BUFFER_SIZE];
    static thread_local uint8_t reply[FRAME_BUFFER_SIZE];
    const auto& records = book_.records();
    std::set<int32_t> refused;
    std::set<int32_t> lineFaults;
    PortProgress progress;
    progress.total = static_cast<int32_t>(records.size());
    const auto started = std::chrono::steady_clock::now();
    ExchangeOutcome outcome = ExchangeOutcome::REPLIED;
    for (size_t k = 0; k < records.size(); ++k) {
        const BookRecord& record = records[k];
        const std::string name = "record " + std::to_string(record.number);
        // A record too long for one frame is never sent, as the DLL never sends it.
        const size_t length =
            record.payload.size() > MAX_RECORD_DATA
                ? 0
                : BuildRecordRequest(request, RECORD_FLAG, static_cast<uint16_t>(record.payload.size()),
                                     record.payload.data());
        size_t replyLength = 0;
        outcome = length == 0 ? ExchangeOutcome::TIMED_OUT
                              : exchange.Run(request, length, RECORD_TIMEOUT_MS, reply, replyLength);
        if (outcome == ExchangeOutcome::REPLIED && ReadRecordStatus(reply, replyLength) != RECORD_REFUSED) {
            ++progress.stored;
        } else if (outcome == ExchangeOutcome::REPLIED) {
            refused.insert(record.number);
            ++progress.refused;
            Print(name + ": refused by the device");
        } else if (outcome == ExchangeOutcome::TIMED_OUT) {
            lineFaults.insert(record.number);
            ++progress.lineFaults;
            Print(name + ": " +
                  (length == 0 ? "too long for one frame, not sent"
                               : "no answer within " + std::to_string(RECORD_TIMEOUT_MS / 1000) + " s") +
                  " (line fault)");
            if (length != 0 && k + 1 < records.size() && !exchange.Settle(LATE_REPLY_WAIT_MS, outcome)) ++k;
        }
        if (outcome == ExchangeOutcome::LINE_LOST || outcome == ExchangeOutcome::INTERRUPTED) {
            LoseRest(records, k, lineFaults, progress, outcome == ExchangeOutcome::INTERRUPTED, exchange);
            board_.Update(row_, progress, started);
            break;
        }
        board_.Update(row_, progress, started);
    }
    Print(SummaryText(progress.total, refused, lineFaults));
    if (outcome == ExchangeOutcome::INTERRUPTED) return EXIT_INTERRUPTED;
    if (!refused.empty()) return EXIT_RECORDS_REFUSED;
    if (!lineFaults.empty()) return EXIT_RECORDS_LOST;
    return EXIT_ALL_STORED;
}
