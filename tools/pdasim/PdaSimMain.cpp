// pdasim: stands in for the handheld device on a serial line or a
// pseudo-terminal of its own, so the library can be tested end to end.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "ArgumentText.h"
#include "Cp936Converter.h"
#include "DeviceSim.h"
#include "FrameCodec.h"
#include "LineSettings.h"
#include "RecordFieldsText.h"
#include "RecordLog.h"
#include "SerialLine.h"
#include "SimOptions.h"
#include "StopSignal.h"
#include "VcardExport.h"

namespace {

// Emulates the time bytes take on the line (LINE_BITS_PER_BYTE each):
// both directions share one clock per direction, advanced per byte.
using Clock = std::chrono::steady_clock;

class LinePacer {
public:
    explicit LinePacer(bool enabled) : enabled_(enabled) {}

    // Waits until `count` bytes that start now (or after the previous
    // ones) have passed the line.
    void Account(Clock::time_point& lineFree, size_t count)
    {
        if (!enabled_) return;
        auto now = Clock::now();
        if (lineFree < now) lineFree = now;
        lineFree += std::chrono::microseconds(count * 1000000 / LINE_BYTES_PER_SECOND);
        while (!stopRequested && Clock::now() < lineFree)
            std::this_thread::sleep_until(std::min(lineFree, Clock::now() + std::chrono::milliseconds(50)));
    }

    Clock::time_point rxFree{};
    Clock::time_point txFree{};

private:
    bool enabled_;
};

}  // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "pdasim: %s\n(pdasim --help shows the usage)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(SIM_USAGE, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("pdasim %s\n", IMEX_VERSION);
        return 0;
    }
    if (options.payloadFields) {
        std::fputs(RecordFieldsJson().c_str(), stdout);
        return 0;
    }
    std::string serverType;
    if (!Utf8ToCp936(ArgumentToUtf8(options.serverType), serverType)) {
        std::fprintf(stderr, "pdasim: --server-type cannot be written in CP936\n");
        return 2;
    }
#ifdef _WIN32
    if (!options.ptyLink.empty()) {
        std::fprintf(stderr, "pdasim: --pty needs pseudo-terminals, which Windows lacks: give --device COMn\n");
        return 2;
    }
#else
    // Before anything is written: a link that cannot be published would
    // leave a log and a vCard file behind for nothing.
    if (!options.ptyLink.empty() && !LinkPlaceFree(options.ptyLink, error)) {
        std::fprintf(stderr, "pdasim: %s\n", error.c_str());
        return 1;
    }
#endif
    InstallStopSignals();

    RecordLog log;
    if (!options.logPath.empty() && !log.Open(options.logPath)) {
        std::fprintf(stderr, "pdasim: cannot open the log %s: %s\n", options.logPath.c_str(), std::strerror(errno));
        return 1;
    }

    // Written at once, so even a store that stays empty can be seen. A file
    // that cannot be written is no reason to leave the line unanswered.
    std::unique_ptr<VcardExport> vcard;
    if (!options.vcardPath.empty()) {
        vcard = std::make_unique<VcardExport>(
            options.vcardPath, [](const std::string& text) { std::fprintf(stderr, "pdasim: %s\n", text.c_str()); });
        vcard->Write();
    }

    SerialLine line;
#ifdef _WIN32
    bool ok = line.OpenDevice(options.devicePath, error);
#else
    bool ok = options.devicePath.empty() ? line.CreatePty(error) : line.OpenDevice(options.devicePath, error);
#endif
    if (ok && options.xonXoff) ok = line.SetSoftwareFlowControl(error);
    if (!ok) {
        std::fprintf(stderr, "pdasim: %s\n", error.c_str());
        return 1;
    }

    auto note = [&options](const std::string& text) {
        if (!options.quiet) std::fprintf(stderr, "pdasim: %s\n", text.c_str());
    };
    LinePacer pacer(options.pace);
    auto send = [&](const uint8_t* data, size_t length) {
        // Written in slices when pacing, so the peer sees a line's rate.
        constexpr size_t SLICE = 64;
        size_t done = 0;
        while (done < length && !stopRequested) {
            size_t n = options.pace ? std::min(SLICE, length - done) : length - done;
            if (!line.Write(data + done, n, 2000)) {
                note("write failed: nobody reads the line");
                return;
            }
            pacer.Account(pacer.txFree, n);
            done += n;
        }
    };
    auto pause = [](uint32_t ms) {
        // In slices, so a stop signal is not held up by a long reply delay.
        auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (!stopRequested && Clock::now() < until)
            std::this_thread::sleep_until(std::min(until, Clock::now() + std::chrono::milliseconds(50)));
    };
    DeviceSim device(options, serverType, options.logPath.empty() ? nullptr : &log, send, note, pause);
    if (vcard) device.SetRecordStored([&vcard](const uint8_t* data, size_t length) { vcard->AddRecord(data, length); });

    // Only now is the device able to answer: publish the line.
    std::string shownPath = options.devicePath;
#ifndef _WIN32
    if (!options.ptyLink.empty()) {
        if (!line.PublishLink(options.ptyLink, error)) {
            std::fprintf(stderr, "pdasim: %s\n", error.c_str());
            return 1;
        }
        shownPath = options.ptyLink;
        note("pseudo-terminal " + line.slavePath());
    }
#endif
    std::printf("pdasim: ready %s\n", shownPath.c_str());
    std::fflush(stdout);

    LinkStatistics stats;
    FrameReceiver receiver(stats, DEVICE_RECEIVE_LIMIT);
    static uint8_t input[4096];
    static uint8_t payload[FRAME_BUFFER_SIZE];
    uint32_t badSeen = 0;
    while (!stopRequested) {
        size_t n = line.Read(input, sizeof input, 200);
        if (n == 0) continue;
        pacer.Account(pacer.rxFree, n);
        for (size_t k = 0; k < n && !stopRequested; ++k) {
            size_t length = sizeof payload;
            if (receiver.Feed(input[k], payload, &length) == FrameReceiver::GOOD) device.OnMessage(payload, length);
        }
        if (stats.badFramesReceived != badSeen) {
            note("rejected " + std::to_string(stats.badFramesReceived - badSeen) + " bad frame(s)");
            badSeen = stats.badFramesReceived;
        }
    }
    note("stopping: " + std::to_string(device.recordsReceived()) + " records, " + std::to_string(device.repliesSent()) +
         " replies");
#ifndef _WIN32
    line.RemoveLink();
#endif
    return 0;
}
