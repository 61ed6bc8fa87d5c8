#include "SimOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

const char* const SIM_USAGE =
    "usage: pdasim (--device PATH | --pty LINK) [--server-type TEXT] [--free-kb N] [--log FILE] [--quiet]\n"
    "              [--export-vcard FILE] [--silent] [--probe-only] [--refuse-records] [--refuse-every K]\n"
    "              [--stop-after K] [--delay-ms N] [--corrupt-fcs K] [--wrong-length] [--stale-reply]\n"
    "              [--duplicate-replies] [--unsolicited K] [--late-reply K] [--noise] [--pace] [--xon-xoff]\n"
    "       pdasim --payload-fields   the names of a record's fields, one JSON line each\n"
    "--export-vcard FILE: the records the device stored, as vCard 3.0 in UTF-8, rewritten after each\n";

namespace {

bool ParseCount(const char* text, uint32_t max, uint32_t& out)
{
    if (text == nullptr || *text == '\0' || *text == '-' || *text == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
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
        {"--quiet", &SimOptions::quiet},           {"--silent", &SimOptions::silent},
        {"--probe-only", &SimOptions::probeOnly},  {"--refuse-records", &SimOptions::refuseRecords},
        {"--wrong-length", &SimOptions::wrongLength}, {"--stale-reply", &SimOptions::staleReply},
        {"--noise", &SimOptions::noise},           {"--pace", &SimOptions::pace},
        {"--duplicate-replies", &SimOptions::duplicateReplies},
        {"--xon-xoff", &SimOptions::xonXoff},      {"--payload-fields", &SimOptions::payloadFields},
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
        {"--device", &SimOptions::devicePath},
        {"--pty", &SimOptions::ptyLink},
        {"--server-type", &SimOptions::serverType},
        {"--log", &SimOptions::logPath},
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
            if (std::strcmp(arg, n.name) != 0)
                continue;
            uint32_t v = 0;
            if (k + 1 >= argc || !ParseCount(argv[k + 1], n.max, v) || v < n.min) {
                error = std::string(arg) + " needs a number from " + std::to_string(n.min) + " to " +
                        std::to_string(n.max);
                return false;
            }
            o.*n.field = v;
            if (n.field == &SimOptions::stopAfter)
                o.stopAfterSet = true;
            ++k;
            known = true;
        }
        for (const Text& t : texts) {
            if (std::strcmp(arg, t.name) != 0)
                continue;
            bool mayBeEmpty = t.field == &SimOptions::serverType;
            if (k + 1 >= argc || (argv[k + 1][0] == '\0' && !mayBeEmpty)) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            o.*t.field = argv[++k];
            known = true;
        }
        if (!known) {
            error = std::string("unknown argument: ") + arg;
            return false;
        }
    }
    if (o.payloadFields)
        return true;
    if (o.devicePath.empty() == o.ptyLink.empty()) {
        error = "give exactly one of --device PATH and --pty LINK";
        return false;
    }
    return true;
}
