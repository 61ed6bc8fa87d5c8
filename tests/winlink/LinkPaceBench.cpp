// Measures record requests against a simulator that paces its line at
// 57600 baud: total time of 100 requests of 1000 bytes against the time
// their frames need on the wire (10 bits a byte, both directions).
//
//   with-devices.sh --sim COM9 "--pace --quiet" -- winerun.sh link_pace_bench.exe [PORT] [COUNT]
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DeviceMessages.h"
#include "FrameCodec.h"
#include "LinkTestSupport.h"
#include "SerialLink.h"

namespace {

constexpr int DEFAULT_REQUESTS = 100;
constexpr uint16_t RECORD_BYTES = 1000;
constexpr double BITS_PER_BYTE = 10.0;  // start bit, 8 data bits, stop bit
constexpr double LINE_BAUD = 57600.0;

size_t FrameBytes(const uint8_t* message)
{
    static uint8_t frame[STUFFED_FRAME_SIZE];
    return BuildFrame(message, MessageLength(message), frame);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* portName = argc > 1 ? argv[1] : SOAK_PORT;
    const int requests = argc > 2 ? std::atoi(argv[2]) : DEFAULT_REQUESTS;

    CompletionWindow window;
    SerialLink link;
    if (!link.Start(portName, window.Handle())) {
        std::fprintf(stderr, "link_pace_bench: cannot open %s; is pdasim --pace running on it?\n", portName);
        return 2;
    }
    std::vector<uint8_t> record(RECORD_BYTES);
    for (size_t k = 0; k < record.size(); ++k)
        record[k] = static_cast<uint8_t>('A' + k % 26);

    double wireBytes = 0;
    int failures = 0;
    const double started = NowMs();
    for (int i = 0; i < requests; ++i) {
        link.RequestRecord(RECORD_FLAG, RECORD_BYTES, record.data());
        wireBytes += static_cast<double>(FrameBytes(link.request));
        if (!window.WaitFor(static_cast<size_t>(i) + 1, 25000)) {
            std::fprintf(stderr, "link_pace_bench: request %d never completed\n", i);
            link.Stop();
            return 2;
        }
        if (window.completions.back().success != 1) {
            ++failures;
            continue;
        }
        wireBytes += static_cast<double>(FrameBytes(link.reply));
    }
    const double totalMs = NowMs() - started;
    link.Stop();

    const double wireMs = wireBytes * BITS_PER_BYTE * 1000.0 / LINE_BAUD;
    std::printf("link_pace_bench: %d record requests of %u bytes on %s, %d failed\n", requests,
                static_cast<unsigned>(RECORD_BYTES), portName, failures);
    std::printf(
        "link_pace_bench: total %.0f ms, wire time %.0f ms (%.0f frame bytes), ratio %.3f, %.1f ms per request\n",
        totalMs, wireMs, wireBytes, totalMs / wireMs, totalMs / requests);
    return failures == 0 ? 0 : 1;
}
