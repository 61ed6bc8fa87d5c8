#include "SimOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char* const SIM_USAGE =
    "usage: pdasim (--device PATH | --pty LINK) [OPTION]...\n"
    "       pdasim --payload-fields | --help | --version\n"
    "The handheld device on a serial line: answers the probe, the information request and records.\n"
    "  --device PATH        an existing serial line (e.g. /dev/ttyUSB0, or COM2 on Windows), opened raw\n"
    "                       at 57600 8N1 and locked: a second program on the same line is refused\n"
    "  --pty LINK           a pseudo-terminal of our own, its slave published as the symlink LINK;\n"
    "                       an older symlink to a pseudo-terminal there is replaced, anything else refused\n"
    "                       (not on Windows)\n"
    "  --server-type TEXT   the server type the information reply names (sent in CP936)\n"
    "  --free-kb N          the free space it reports, 0 to 65535 KB (1024)\n"
    "  --log FILE           appends one JSON line per record received\n"
    "  --export-vcard FILE  the records the device stored, as vCard 3.0 in UTF-8, rewritten after each\n"
    "                       stored record\n"
    "  --quiet              no notes on stderr\n"
    "Faults (records count from the first record, replies from the probe's reply, both from 1):\n"
    "  --silent             answers nothing\n"
    "  --probe-only         answers the probe only\n"
    "  --refuse-records     refuses every record\n"
    "  --refuse-every K     refuses every K-th record\n"
    "  --stop-after K       answers K records, then nothing at all\n"
    "  --delay-ms N         waits N ms before every reply\n"
    "  --corrupt-fcs K      spoils the FCS of the K-th reply\n"
    "  --wrong-length       every reply's length field claims one byte more\n"
    "  --stale-reply        a reply of the other kind goes out before every reply\n"
    "  --duplicate-replies  every reply goes out twice\n"
    "  --unsolicited K      an extra record reply follows the reply to record K\n"
    "  --late-reply K       record K's reply comes 1 s after the library has given up on it\n"
    "  --noise              1 to 8 random bytes before every frame\n"
    "  --pace               takes the time of a 57600 baud line for every byte\n"
    "  --xon-xoff           leaves XON/XOFF on in the line's settings, as a driver may\n"
    "  --payload-fields     prints the names of a record's fields, one JSON line each, and ends\n"
    "Exit status: 0 stopped by SIGINT or SIGTERM (Ctrl+C or Ctrl+Break on Windows), or --help,\n"
    "--version, --payload-fields; 1 the line, the log or the link cannot be set up; 2 bad usage.\n";

namespace {

bool ParseCount(const char* text, uint32_t max, uint32_t& out)
{
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

bool ParseSimOptions(int argc, char** argv, SimOptions& o, std::string& error)
{
    struct Flag {
        const char* name;
        bool SimOptions::*field;
    };
    static const Flag flags[] = {
        {"--quiet", &SimOptions::quiet},
        {"--silent", &SimOptions::silent},
        {"--probe-only", &SimOptions::probeOnly},
        {"--refuse-records", &SimOptions::refuseRecords},
        {"--wrong-length", &SimOptions::wrongLength},
        {"--stale-reply", &SimOptions::staleReply},
        {"--noise", &SimOptions::noise},
        {"--pace", &SimOptions::pace},
        {"--duplicate-replies", &SimOptions::duplicateReplies},
        {"--xon-xoff", &SimOptions::xonXoff},
        {"--payload-fields", &SimOptions::payloadFields},
        {"--help", &SimOptions::help},
        {"--version", &SimOptions::version},
    };
    struct Number {
        const char* name;
        uint32_t SimOptions::*field;
        uint32_t min;
        uint32_t max;
    };
    static const Number numbers[] = {
        {"--free-kb", &SimOptions::freeKb, 0, 65535},
        {"--refuse-every", &SimOptions::refuseEvery, 1, 1000000000},
        {"--stop-after", &SimOptions::stopAfter, 0, 1000000000},
        {"--delay-ms", &SimOptions::delayMs, 0, 600000},
        {"--corrupt-fcs", &SimOptions::corruptFcs, 1, 1000000000},
        {"--unsolicited", &SimOptions::unsolicited, 1, 1000000000},
        {"--late-reply", &SimOptions::lateReply, 1, 1000000000},
    };
    struct Text {
        const char* name;
        std::string SimOptions::*field;
    };
    static const Text texts[] = {
        {"--device", &SimOptions::devicePath},      {"--pty", &SimOptions::ptyLink},
        {"--server-type", &SimOptions::serverType}, {"--log", &SimOptions::logPath},
        {"--export-vcard", &SimOptions::vcardPath},
    };

    for (int k = 1; k < argc; ++k) {
        const char* arg = argv[k];
        bool known = false;
        for (const Flag& f : flags) {
            if (std::strcmp(arg, f.name) == 0) {
                o.*f.field = true;
                known = true;
            }
        }
        for (const Number& n : numbers) {
            if (std::strcmp(arg, n.name) != 0) continue;
            uint32_t v = 0;
            if (k + 1 >= argc || !ParseCount(argv[k + 1], n.max, v) || v < n.min) {
                error =
                    std::string(arg) + " needs a number from " + std::to_string(n.min) + " to " + std::to_string(n.max);
                return false;
            }
            o.*n.field = v;
            if (n.field == &SimOptions::stopAfter) o.stopAfterSet = true;
            ++k;
            known = true;
        }
        for (const Text& t : texts) {
            if (std::strcmp(arg, t.name) != 0) continue;
            bool mayBeEmpty = t.field == &SimOptions::serverType;
            if (k + 1 >= argc || (argv[k + 1][0] == '\0' && !mayBeEmpty)) {
                error = std::string(arg) + " needs a value" + (k + 1 >= argc ? "" : ", not an empty one");
                return false;
            }
            o.*t.field = argv[++k];
            known = true;
        }
        if (!known) {
            error = (arg[0] == '-' ? "unknown option " : "unexpected argument ") + std::string(arg);
            return false;
        }
    }
    if (o.payloadFields || o.help || o.version) return true;
    if (o.devicePath.empty() == o.ptyLink.empty()) {
        error = "give exactly one of --device PATH and --pty LINK";
        return false;
    }
    return true;
}
