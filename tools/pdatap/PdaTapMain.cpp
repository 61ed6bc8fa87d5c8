// pdatap: a tap on the line between the host's port and a real device. The
// host's side is a pseudo-terminal of ours (published as a symlink, for
// Wine's COM1), the device's an existing serial line; every byte passes both
// ways unchanged, and what passed is shown frame by frame.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>

#include "LineTrace.h"
#include "PortCheck.h"
#include "RecordLog.h"
#include "SerialLine.h"

namespace {

const char USAGE[] =
    "usage: pdatap --device PATH --pty LINK [--trace FILE] [--json] [--quiet]\n"
    "       pdatap --help | --version\n"
    "Passes every byte unchanged between a pseudo-terminal of its own, published as the symlink LINK\n"
    "(map it as Wine's COM1), and the serial line PATH (opened raw at 57600 8N1 and locked), and\n"
    "decodes the traffic with the library's frame codec: one line per frame with time, direction\n"
    "(host>dev, dev>host), message code and name, lengths, FCS verdict and what the message carries\n"
    "(a record's fields as UTF-8); noise and broken frames get lines of their own.\n"
    "  --device PATH  the device's line, e.g. /dev/ttyUSB0\n"
    "  --pty LINK     where the host's side is published; only a symlink to a pseudo-terminal\n"
    "                 there is replaced, anything else is refused\n"
    "  --trace FILE   the trace goes to FILE (replaced) instead of standard output\n"
    "  --json         one JSON object per line instead of text\n"
    "  --quiet        no notes on stderr\n"
    "Prints \"pdatap: ready LINK\" once both sides are open; SIGINT or SIGTERM end it.\n"
    "Exit status: 0 when stopped by a signal (and for --help, --version); 1 when a line or the trace\n"
    "file cannot be set up; 2 bad usage.\n";

// A quiet line this long shows the noise that waits for a frame.
constexpr int IDLE_FLUSH_MS = 100;
// A side that takes no byte for this long is given up for that chunk.
constexpr int WRITE_STALL_MS = 3000;

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int)
{
    stopRequested = 1;
}

struct TapOptions {
    std::string devicePath;
    std::string ptyLink;
    std::string tracePath;
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

bool ParseTapOptions(int argc, char** argv, TapOptions& o, std::string& error)
{
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        std::string* value = arg == "--device"  ? &o.devicePath
                             : arg == "--pty"   ? &o.ptyLink
                             : arg == "--trace" ? &o.tracePath
                                                : nullptr;
        if (value != nullptr) {
            if (k + 1 >= argc || argv[k + 1][0] == '\0') {
                error = arg + " needs a value";
                return false;
            }
            *value = argv[++k];
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--help") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else {
            error = (arg[0] == '-' ? "unknown option " : "unexpected argument ") + arg;
            return false;
        }
    }
    if (!o.help && !o.version && (o.devicePath.empty() || o.ptyLink.empty())) {
        error = "give both --device PATH and --pty LINK";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    TapOptions options;
    std::string error;
    if (!ParseTapOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "pdatap: %s\n(pdatap --help shows the usage)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("pdatap %s\n", IMEX_VERSION);
        return 0;
    }
    auto fail = [](const std::string& text) {
        std::fprintf(stderr, "pdatap: %s\n", text.c_str());
        return 1;
    };
    auto note = [&options](const std::string& text) {
        if (!options.quiet) std::fprintf(stderr, "pdatap: %s\n", text.c_str());
    };

    if (!LinkPlaceFree(options.ptyLink, error)) return fail(error);
    SerialLine device;
    if (!CheckPort(options.devicePath, error) || !device.OpenDevice(options.devicePath, error)) return fail(error);
    std::FILE* trace = stdout;
    if (!options.tracePath.empty()) {
        trace = std::fopen(options.tracePath.c_str(), "w");
        if (trace == nullptr) return fail("cannot write the trace " + options.tracePath + ": " + std::strerror(errno));
    }
    SerialLine host;
    if (!host.CreatePty(error) || !host.PublishLink(options.ptyLink, error)) return fail(error);

    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    LineTrace decoder(options.json, [trace](const std::string& line) {
        std::fputs(line.c_str(), trace);
        std::fputc('\n', trace);
        std::fflush(trace);
    });
    note("pseudo-terminal " + host.slavePath() + " <-> " + options.devicePath);
    std::printf("pdatap: ready %s\n", options.ptyLink.c_str());
    std::fflush(stdout);

    struct Side {
        SerialLine& from;
        SerialLine& to;
        LineDirection direction;
        const char* receiver;
    } sides[] = {{host, device, LineDirection::TO_DEVICE, "the device"},
                 {device, host, LineDirection::TO_HOST, "the host"}};
    static uint8_t buffer[4096];
    while (!stopRequested) {
        pollfd fds[2] = {{host.fd(), POLLIN, 0}, {device.fd(), POLLIN, 0}};
        int ready = poll(fds, 2, IDLE_FLUSH_MS);
        if (ready <= 0) {
            for (const Side& side : sides)
                decoder.Flush(side.direction, UtcTimestamp(), false);
            continue;
        }
        for (size_t k = 0; k < 2; ++k) {
            if (fds[k].revents == 0) continue;
            const Side& side = sides[k];
            size_t n = side.from.Read(buffer, sizeof buffer, 0);
            if (n == 0) continue;
            // Passed on first: the trace must not hold the line up.
            if (!side.to.Write(buffer, n, WRITE_STALL_MS))
                note(std::string("lost ") + std::to_string(n) + " B: " + side.receiver + " takes no bytes");
            decoder.Feed(side.direction, buffer, n, UtcTimestamp());
        }
    }
    for (const Side& side : sides)
        decoder.Flush(side.direction, UtcTimestamp(), true);
    const LineTrace::Counts& out = decoder.counts(LineDirection::TO_DEVICE);
    const LineTrace::Counts& in = decoder.counts(LineDirection::TO_HOST);
    note("stopping: " + std::to_string(out.goodFrames) + " frames to the device, " + std::to_string(in.goodFrames) +
         " to the host, " + std::to_string(out.badFrames + in.badFrames) + " broken, " +
         std::to_string(out.noiseBytes + in.noiseBytes) + " B of noise");
    if (trace != stdout) std::fclose(trace);
    host.RemoveLink();
    return 0;
}
