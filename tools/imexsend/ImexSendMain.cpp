// imexsend: sends a record file to handhelds on serial lines the way
// imex.dll does on COM1, natively: no Wine, no display.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include "PortCheck.h"
#include "PortSender.h"
#include "ProgressBoard.h"
#include "RecordBook.h"
#include "SendOptions.h"
#include "TraceWriter.h"
#include "imex.h"

namespace {

std::atomic<bool> stopRequested{false};

void OnStopSignal(int)
{
    stopRequested.store(true);
}

int FileStatus(int32_t result)
{
    switch (result) {
    case IMEX_RESULT_CANNOT_OPEN: return EXIT_CANNOT_READ;
    case IMEX_RESULT_NO_MEMORY: return EXIT_NO_MEMORY;
    default: return EXIT_REFUSED_FILE;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    SendOptions options;
    std::string error;
    if (!ParseSendOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "imexsend: %s\n(imexsend --help shows the usage)\n", error.c_str());
        return EXIT_USAGE;
    }
    if (options.help) {
        std::fputs(SEND_USAGE, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("imexsend %s\n", IMEX_VERSION);
        return 0;
    }
    if (!options.checkPort.empty()) {
        if (CheckPort(options.checkPort, error)) return EXIT_ALL_STORED;
        std::fprintf(stderr, "imexsend: %s\n", error.c_str());
        return EXIT_PORT;
    }

    RecordBook book;
    const int32_t loaded = book.Load(options.recordFile, error);
    if (loaded != IMEX_RESULT_OK) {
        std::fprintf(stderr, "imexsend: %s\n", error.c_str());
        return FileStatus(loaded);
    }
    if (!options.onlyText.empty()) {
        std::set<int32_t> only;
        if (!ParseRecordList(options.onlyText, book.RecordCount(), only, error)) {
            std::fprintf(stderr, "imexsend: %s\n(imexsend --help shows the usage)\n", error.c_str());
            return EXIT_USAGE;
        }
        book.Keep(only);
    }
    TraceWriter trace;
    if (!options.tracePath.empty() && !trace.Open(options.tracePath, options.json, error)) {
        std::fprintf(stderr, "imexsend: %s\n", error.c_str());
        return EXIT_USAGE;
    }

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const bool several = options.ports.size() > 1;
    std::vector<std::string> labels;
    for (const std::string& port : options.ports)
        labels.push_back(several ? port + ": " : std::string());
    ProgressBoard board(stdout, !options.quiet && isatty(STDOUT_FILENO) != 0, labels);

    std::vector<int> statuses(options.ports.size(), EXIT_ALL_STORED);
    std::vector<std::thread> workers;
    for (size_t k = 0; k < options.ports.size(); ++k) {
        workers.emplace_back([&, k] {
            PortSender sender(options.ports[k], labels[k], k, book, board, trace, stopRequested);
            statuses[k] = sender.Run();
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    board.Close();
    for (int status : statuses) {
        if (status != EXIT_ALL_STORED) return status;
    }
    return EXIT_ALL_STORED;
}
