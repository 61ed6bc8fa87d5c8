#include "HostOptions.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

Options options;

const char* KindName(DialogKind kind)
{
    switch (kind) {
    case DialogKind::CONNECT: return "connect";
    case DialogKind::TRANSFER: return "transfer";
    default: return "box";
    }
}

const char HOST_USAGE[] =
    "usage: imexhost [options] RECORD_FILE\n"
    "  Calls ImEx(0, 0, 0, RECORD_FILE, 0, mode, callback) from imex.dll and prints \"progress K/N\"\n"
    "  per callback, \"result R: <meaning>\" per call and, last, what became of the records:\n"
    "  \"N records: S stored, R refused (records i, j), F line faults (records k)\", counted from the\n"
    "  message boxes (a record without one was answered as taken).\n"
    "  --dll PATH            imex.dll to load (default: beside imexhost.exe)\n"
    "  --mode N              mode argument (default 1)\n"
    "  --null-callback       pass no progress callback\n"
    "  --repeat N            call ImEx N times in this process\n"
    "  --answer-boxes[=MS]   log each message box and answer it with OK after MS ms (200)\n"
    "  --log-dialogs         log each connection and transfer dialog with its texts\n"
    "  --press KEY@WHERE[:N] press escape or enter in the N-th connect or transfer dialog\n"
    "  --reenter             call ImEx again from inside the first progress callback\n"
    "  --reenter-thread      the same from a second thread\n"
    "  --report-handles      print handle and thread counts before, after each call and after\n"
    "  --screenshots DIR     save each dialog and box as DIR\\<kind>-<n>.bmp\n"
    "  --owner-window[=nested] call from a visible, active window of our own (nested: a dialog\n"
    "                        of our main window, which it keeps disabled) and log whether it is\n"
    "                        disabled while each dialog is up, enabled and active at its end\n"
    "  --exit-in-callback K  end the process (exit code 42) in the callback of block K\n"
    "  --exit-from-thread K  in the callback of block K, start a thread that ends the process\n"
    "                        (exit code 43) 300 ms later, while that block's record is sent\n"
    "  --help                this text\n"
    "  Where nobody can see the display (IMEX_DISPLAY_HIDDEN=1, set by winerun.sh when it starts\n"
    "  Xvfb itself), a transfer runs only with --answer-boxes: a box would wait for ever.\n"
    "Exit status (of the last call): 0 every record stored (also: no record, or a mode other than 1);\n"
    "  1 busy; 2 the record file cannot be opened; 3 the record file is not valid; 4 no memory;\n"
    "  6 no device connected; 7 no device answered on COM1 or COM2; 8 the device refused records;\n"
    "  9 records failed on the line or were abandoned (none refused); 10 neither COM1 nor COM2 can be\n"
    "  opened; 100 the DLL cannot be loaded; 101 bad usage.\n";

namespace {

// A whole decimal number within [low, high], all of `text`.
bool ParseNumber(const char* text, long low, long high, int* out)
{
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *out = static_cast<int>(value);
    return true;
}

bool ParsePress(const std::string& text, Press* press)
{
    size_t at = text.find('@');
    if (at == std::string::npos) return false;
    press->key = text.substr(0, at);
    if (press->key != "escape" && press->key != "enter") return false;
    std::string where = text.substr(at + 1);
    press->occurrence = 1;
    size_t colon = where.find(':');
    if (colon != std::string::npos) {
        if (!ParseNumber(where.c_str() + colon + 1, 1, INT_MAX, &press->occurrence)) return false;
        where = where.substr(0, colon);
    }
    if (where == "connect")
        press->where = DialogKind::CONNECT;
    else if (where == "transfer")
        press->where = DialogKind::TRANSFER;
    else
        return false;
    return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, bool* help, std::string* error)
{
    struct Number {
        const char* name;
        int* field;
        long low;
        long high;
    };
    const Number numbers[] = {
        {"--mode", &options.mode, INT_MIN, INT_MAX},
        {"--repeat", &options.repeat, 1, 100000},
        {"--exit-in-callback", &options.exitInCallback, 1, INT_MAX},
        {"--exit-from-thread", &options.exitFromThread, 1, INT_MAX},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const Number* number = nullptr;
        for (const Number& n : numbers) {
            if (arg == n.name) number = &n;
        }
        const bool takesValue = number != nullptr || arg == "--dll" || arg == "--press" || arg == "--screenshots";
        if (takesValue && (value == nullptr || *value == '\0')) {
            *error = arg + " needs a value";
            return false;
        }
        if (number != nullptr) {
            if (!ParseNumber(value, number->low, number->high, number->field)) {
                std::string range;
                if (number->low != INT_MIN)
                    range = " from " + std::to_string(number->low) +
                            (number->high != INT_MAX ? " to " + std::to_string(number->high) : std::string());
                *error = arg + " needs a whole number" + range + ", not \"" + value + "\"";
                return false;
            }
            ++i;
        } else if (arg == "--dll") {
            options.dllPath = argv[++i];
        } else if (arg == "--null-callback") {
            options.nullCallback = true;
        } else if (arg == "--answer-boxes") {
            options.answerBoxes = true;
        } else if (arg.rfind("--answer-boxes=", 0) == 0) {
            int ms = 0;
            if (!ParseNumber(arg.c_str() + 15, 0, 600000, &ms)) {
                *error = "--answer-boxes=MS needs milliseconds from 0 to 600000, not \"" + arg.substr(15) + "\"";
                return false;
            }
            options.answerBoxes = true;
            options.answerDelayMs = static_cast<unsigned>(ms);
        } else if (arg == "--log-dialogs") {
            options.logDialogs = true;
        } else if (arg == "--press") {
            Press press;
            if (!ParsePress(argv[++i], &press)) {
                *error = std::string("--press needs escape|enter@connect|transfer[:N], not \"") + value + "\"";
                return false;
            }
            options.presses.push_back(press);
        } else if (arg == "--reenter") {
            options.reenter = true;
        } else if (arg == "--reenter-thread") {
            options.reenterThread = true;
        } else if (arg == "--report-handles") {
            options.reportHandles = true;
        } else if (arg == "--owner-window") {
            options.ownerWindow = true;
        } else if (arg == "--owner-window=nested") {
            options.ownerWindow = true;
            options.nestedOwner = true;
        } else if (arg == "--screenshots") {
            options.screenshotDir = argv[++i];
        } else if (arg == "--help") {
            *help = true;
        } else if (arg.rfind("--", 0) == 0) {
            *error = "unknown option " + arg;
            return false;
        } else if (options.recordFile != nullptr) {
            *error = "one record file only: " + std::string(options.recordFile) + " and " + arg;
            return false;
        } else {
            options.recordFile = argv[i];
        }
    }
    if (!*help && options.recordFile == nullptr) {
        *error = "no record file given";
        return false;
    }
    return true;
}
