// Command line of the native sender, and the exit statuses it ends with
// (those of scripts/send.sh, which passes them on as they are).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

constexpr int EXIT_ALL_STORED = 0;
constexpr int EXIT_CANNOT_READ = 2;      // the record file cannot be opened
constexpr int EXIT_REFUSED_FILE = 3;     // not a valid record file
constexpr int EXIT_NO_MEMORY = 4;        // the record table cannot be allocated
constexpr int EXIT_NO_DEVICE = 7;        // no device answered on the port
constexpr int EXIT_RECORDS_REFUSED = 8;  // the device refused records (some may also be lost)
constexpr int EXIT_RECORDS_LOST = 9;     // records failed on the line, none refused
constexpr int EXIT_PORT = 10;            // the port cannot be used
constexpr int EXIT_INTERRUPTED = 130;    // SIGINT or SIGTERM
constexpr int EXIT_USAGE = 101;

struct SendOptions {
    std::vector<std::string> ports;  // in the order given
    std::string recordFile;
    std::string onlyText;  // --only as given; empty: every record
    std::string tracePath;
    std::string checkPort;  // --check-port: only the port's checks, nothing sent
    bool json = false;
    bool quiet = false;  // no progress line, even on a terminal
    bool help = false;
    bool version = false;
};

// Fills `options` from argv; on a bad command line false with a message.
bool ParseSendOptions(int argc, char** argv, SendOptions& options, std::string& error);

// Reads a list of record numbers as the summary writes them ("2, 4") or as
// people shorten it ("10-20,31"). False with a message naming the part that
// is not a number, a range or a separator, or the first number beyond
// `recordCount`.
bool ParseRecordList(const std::string& text, int32_t recordCount, std::set<int32_t>& records, std::string& error);

extern const char* const SEND_USAGE;
