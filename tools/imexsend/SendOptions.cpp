#include "SendOptions.h"

#include <cctype>
#include <climits>
#include <cstdlib>

const char* const SEND_USAGE =
    "usage: imexsend [--only LIST] [--trace FILE [--json]] [--quiet] PORT[,PORT...] RECORDFILE\n"
    "       imexsend --check-port PORT | --help | --version\n"
    "Sends the records of RECORDFILE to the handheld on the serial line PORT (e.g. /dev/ttyUSB0),\n"
    "opened raw at 57600 8N1 and locked, as imex.dll sends them on COM1: the probe, the information\n"
    "request, then each record, one outcome each (stored, refused, line fault). Several PORTs,\n"
    "separated by commas, each get the whole book at the same time and a summary line of their own.\n"
    "The last line (per port) says what became of the records:\n"
    "  N records: S stored, R refused (records i, j), F line faults (records k)\n"
    "  --only LIST    only these records, numbered as the summary numbers them: 2,4 or 10-20,31\n"
    "  --trace FILE   also write what went over the line, frame by frame (as pdatap shows it)\n"
    "  --json         the trace as JSON lines\n"
    "  --quiet        no progress line, even on a terminal\n"
    "  --check-port PORT  only check that PORT can be used (exists, a serial line, readable and\n"
    "                 writable, held by no other program), and say why not; nothing is sent\n"
    "Exit status: 0 every record stored on every port; else that of the first port that did not\n"
    "store them all: 2 RECORDFILE cannot be opened; 3 it is not a valid record file; 4 no memory for\n"
    "its table; 7 no device answered; 8 the device refused records; 9 records failed on the line\n"
    "(none refused); 10 the port cannot be used; 101 bad usage; 130 interrupted.\n";

namespace {

bool NeedsValue(int k, int argc, char** argv, const std::string& name, std::string& error)
{
    if (k + 1 < argc && argv[k + 1][0] != '\0') return true;
    error = name + " needs a value";
    return false;
}

bool SplitPorts(const std::string& text, std::vector<std::string>& ports, std::string& error)
{
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string port = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (port.empty()) {
            error = "an empty port name in \"" + text + "\"";
            return false;
        }
        for (const std::string& earlier : ports) {
            if (earlier == port) {
                error = "the port " + port + " is named twice";
                return false;
            }
        }
        ports.push_back(port);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// A whole number from 1 up at `at`; advances past it.
bool ReadNumber(const std::string& text, size_t& at, int32_t& number)
{
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
    long long value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = value * 10 + (text[at++] - '0');
        if (value > INT32_MAX) return false;
    }
    number = static_cast<int32_t>(value);
    return number >= 1;
}

void SkipSpaces(const std::string& text, size_t& at)
{
    while (at < text.size() && text[at] == ' ')
        ++at;
}

}  // namespace

bool ParseRecordList(const std::string& text, int32_t recordCount, std::set<int32_t>& records, std::string& error)
{
    size_t at = 0;
    SkipSpaces(text, at);
    do {
        SkipSpaces(text, at);
        const size_t partStart = at;
        int32_t first = 0;
        int32_t last = 0;
        bool good = ReadNumber(text, at, first);
        last = first;
        if (good && at < text.size() && text[at] == '-') {
            ++at;
            good = ReadNumber(text, at, last) && last >= first;
        }
        SkipSpaces(text, at);
        if (!good || (at < text.size() && text[at] != ',')) {
            const size_t partEnd = text.find(',', partStart);
            error = "--only: \"" +
                    text.substr(partStart, partEnd == std::string::npos ? partEnd : partEnd - partStart) +
                    "\" is not a record number (from 1) nor a range of them (10-20)";
            return false;
        }
        if (last > recordCount) {
            error = "--only: record " + std::to_string(last) + " is beyond the file's " + std::to_string(recordCount) +
                    (recordCount == 1 ? " record" : " records");
            return false;
        }
        for (int64_t record = first; record <= last; ++record)
            records.insert(static_cast<int32_t>(record));
    } while (at++ < text.size());
    return true;
}

bool ParseSendOptions(int argc, char** argv, SendOptions& o, std::string& error)
{
    std::vector<std::string> arguments;
    bool optionsEnd = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (optionsEnd || arg.empty() || arg[0] != '-') {
            arguments.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--only" || arg == "--trace" || arg == "--check-port") {
            if (!NeedsValue(k, argc, argv, arg, error)) return false;
            (arg == "--only" ? o.onlyText : arg == "--trace" ? o.tracePath : o.checkPort) = argv[++k];
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (o.help || o.version) return true;
    if (!o.checkPort.empty()) {
        if (arguments.empty()) return true;
        error = "--check-port takes no other argument, not " + arguments[0];
        return false;
    }
    if (arguments.size() != 2) {
        error = arguments.size() < 2 ? "give a PORT and a RECORDFILE" : "one RECORDFILE at a time, not " + arguments[2];
        return false;
    }
    if (o.json && o.tracePath.empty()) {
        error = "--json goes with --trace FILE";
        return false;
    }
    o.recordFile = arguments[1];
    return SplitPorts(arguments[0], o.ports, error);
}
