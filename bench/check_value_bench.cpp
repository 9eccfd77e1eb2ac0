// Throughput of the check value next to what it is measured against, over the same 64 MiB of
// random bytes in one run: the plain one-byte-at-a-time loop, each vector path this processor
// has, zlib's crc32 and memcpy. Each reports GB/s as "GB=…/s" (10^9 bytes per second of CPU time).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/check_value.h"

namespace {

constexpr uint32_t bufferSize = 64u << 20;

const std::vector<uint8_t>& buffer() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> result(bufferSize);
        std::mt19937 random(1);
        for (uint8_t& byte : result) byte = static_cast<uint8_t>(random());
        return result;
    }();
    return bytes;
}

void reportRate(benchmark::State& state) {
    const double bytes = static_cast<double>(state.iterations()) * bufferSize;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["GB"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
}

void checkValue(benchmark::State& state, CheckValuePath path) {
    const auto& bytes = buffer();
    if (limitCheckValuePath(path) != path) {
        state.SkipWithError("this processor lacks the path");
        return;
    }
    for (auto _ : state) {
        CheckValue value;
        value.update(bytes.data(), bufferSize);
        benchmark::DoNotOptimize(value.stored);
    }
    limitCheckValuePath(CheckValuePath::Avx2);
    reportRate(state);
}

void zlibCrc32(benchmark::State& state) {
    const auto& bytes = buffer();
    for (auto _ : state) {
        uLong crc = crc32(0, bytes.data(), bufferSize);
        benchmark::DoNotOptimize(crc);
    }
    reportRate(state);
}

void copyMemory(benchmark::State& state) {
    const auto& bytes = buffer();
    std::vector<uint8_t> target(bufferSize, 1);
    for (auto _ : state) {
        std::memcpy(target.data(), bytes.data(), bufferSize);
        benchmark::ClobberMemory();
    }
    reportRate(state);
}

BENCHMARK_CAPTURE(checkValue, plain_loop, CheckValuePath::Plain)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(checkValue, sse2, CheckValuePath::Sse2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(checkValue, avx2, CheckValuePath::Avx2)->Unit(benchmark::kMillisecond);
BENCHMARK(zlibCrc32)->Unit(benchmark::kMillisecond);
BENCHMARK(copyMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
