#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "FrameCodec.h"

namespace {

std::vector<uint8_t> RandomPayload(size_t length)
{
    std::mt19937 rng(1);
    std::vector<uint8_t> p(length);
    for (auto& b : p)
        b = static_cast<uint8_t>(rng());
    return p;
}

void BM_Fcs16(benchmark::State& state)
{
    std::vector<uint8_t> p = RandomPayload(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(MakeFcs(p.data(), p.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Fcs16)->Arg(22)->Arg(MAX_FRAME_PAYLOAD);

void BM_BuildFrame(benchmark::State& state)
{
    std::vector<uint8_t> p = RandomPayload(static_cast<size_t>(state.range(0)));
    static uint8_t frame[STUFFED_FRAME_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildFrame(p.data(), p.size(), frame));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BuildFrame)->Arg(22)->Arg(MAX_FRAME_PAYLOAD);

void BM_ReceiveFrame(benchmark::State& state)
{
    std::vector<uint8_t> p = RandomPayload(static_cast<size_t>(state.range(0)));
    static uint8_t frame[STUFFED_FRAME_SIZE];
    size_t n = BuildFrame(p.data(), p.size(), frame);
    LinkStatistics stats;
    FrameReceiver receiver(stats);
    static uint8_t buffer[FRAME_BUFFER_SIZE];
    for (auto _ : state) {
        for (size_t k = 0; k < n; ++k) {
            size_t length = sizeof buffer;
            benchmark::DoNotOptimize(receiver.Feed(frame[k], buffer, &length));
        }
    }
    if (stats.goodFramesReceived != state.iterations()) state.SkipWithError("frames were not received whole");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}
BENCHMARK(BM_ReceiveFrame)->Arg(22)->Arg(4089);

}  // namespace
