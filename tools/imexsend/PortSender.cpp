#include "PortSender.h"

#include <termios.h>

#include <chrono>
#include <memory>

#include "Cp936Converter.h"
#include "DeviceExchange.h"
#include "DeviceMessages.h"
#include "LineTrace.h"
#include "PortCheck.h"
#include "ProgressBoard.h"
#include "RecordBook.h"
#include "SendOptions.h"
#include "SerialLine.h"
#include "TraceWriter.h"

namespace {

std::string RecordList(const std::set<int32_t>& records)
{
    if (records.empty()) return std::string();
    std::string list = records.size() == 1 ? " (record " : " (records ";
    bool first = true;
    for (int32_t record : records) {
        list += (first ? "" : ", ") + std::to_string(record);
        first = false;
    }
    return list + ")";
}

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
    const int32_t stored = records - static_cast<int32_t>(refused.size() + lineFaults.size());
    return std::to_string(records) + " records: " + std::to_string(stored) + " stored, " +
           std::to_string(refused.size()) + " refused" + RecordList(refused) + ", " +
           std::to_string(lineFaults.size()) + " line faults" + RecordList(lineFaults);
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
    bool interrupted = false;
    for (size_t k = 0; k < records.size(); ++k) {
        const BookRecord& record = records[k];
        const size_t length = BuildRecordRequest(request, RECORD_FLAG, static_cast<uint16_t>(record.payload.size()),
                                                 record.payload.data());
        size_t replyLength = 0;
        // A record too long for one frame is never sent, as the DLL never sends it.
        const ExchangeOutcome outcome = length == 0 || record.payload.size() > MAX_RECORD_DATA
                                            ? ExchangeOutcome::TIMED_OUT
                                            : exchange.Run(request, length, RECORD_TIMEOUT_MS, reply, replyLength);
        const std::string name = "record " + std::to_string(record.number);
        if (outcome == ExchangeOutcome::REPLIED) {
            if (ReadRecordStatus(reply, replyLength) == RECORD_REFUSED) {
                refused.insert(record.number);
                ++progress.refused;
                Print(name + ": refused by the device");
            } else {
                ++progress.stored;
            }
        } else if (outcome == ExchangeOutcome::TIMED_OUT) {
            lineFaults.insert(record.number);
            ++progress.lineFaults;
            Print(name + ": " +
                  (length == 0 ? "too long for one frame, not sent"
                               : "no answer within " + std::to_string(RECORD_TIMEOUT_MS / 1000) + " s") +
                  " (line fault)");
        } else {
            // The line is gone (or we are told to stop): no record from
            // here on was answered.
            for (size_t rest = k; rest < records.size(); ++rest)
                lineFaults.insert(records[rest].number);
            progress.lineFaults += static_cast<int32_t>(records.size() - k);
            interrupted = outcome == ExchangeOutcome::INTERRUPTED;
            Print((interrupted ? "interrupted during " + name
                               : "the line was lost during " + name + " (" + exchange.lostReason() + ")") +
                  "; the records not answered count as line faults");
            board_.Update(row_, progress, started);
            break;
        }
        board_.Update(row_, progress, started);
    }
    Print(SummaryText(progress.total, refused, lineFaults));
    if (interrupted) return EXIT_INTERRUPTED;
    if (!refused.empty()) return EXIT_RECORDS_REFUSED;
    if (!lineFaults.empty()) return EXIT_RECORDS_LOST;
    return EXIT_ALL_STORED;
}
