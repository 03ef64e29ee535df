// Codec throughput against a plain memcpy of the same bytes: each codec benchmark has a
// memcpy twin of the same byte count, so the ratio of their times is the codec's overhead.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "BaseProtocol.h"

namespace {

constexpr int IntegerCount = 1'000'000;
constexpr int StringCount = 100'000;
const std::string ShortString = "Zone 12 ovi"; // 11 bytes, a typical object name

void BM_WriteIntegers(benchmark::State& state) {
    for (auto _ : state) {
        TBufferProtocol p(64);
        for (int i = 0; i < IntegerCount; ++i)
            p.WriteInteger(i);
        benchmark::DoNotOptimize(p.Data());
    }
    state.SetBytesProcessed(state.iterations() * IntegerCount * 4);
}

void BM_ReadIntegers(benchmark::State& state) {
    TBufferProtocol p(64);
    for (int i = 0; i < IntegerCount; ++i)
        p.WriteInteger(i);
    for (auto _ : state) {
        p.SetPosition(0);
        int64_t sum = 0;
        for (int i = 0; i < IntegerCount; ++i)
            sum += p.ReadInteger();
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * IntegerCount * 4);
}

void BM_WriteStrings(benchmark::State& state) {
    for (auto _ : state) {
        TBufferProtocol p(64);
        for (int i = 0; i < StringCount; ++i)
            p.WriteString(ShortString);
        benchmark::DoNotOptimize(p.Data());
    }
    state.SetBytesProcessed(state.iterations() * StringCount * (4 + ShortString.size()));
}

void BM_ReadStrings(benchmark::State& state) {
    TBufferProtocol p(64);
    for (int i = 0; i < StringCount; ++i)
        p.WriteString(ShortString);
    for (auto _ : state) {
        p.SetPosition(0);
        size_t total = 0;
        for (int i = 0; i < StringCount; ++i)
            total += p.ReadString().size();
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * StringCount * (4 + ShortString.size()));
}

void BM_CopyStream64MiB(benchmark::State& state) {
    TMemoryStream stream;
    stream.SetSize(64 << 20);
    std::memset(stream.Memory(), 0x5A, 64 << 20);
    for (auto _ : state) {
        TBufferProtocol p(&stream, 32);
        benchmark::DoNotOptimize(p.Data());
    }
    state.SetBytesProcessed(state.iterations() * (int64_t(64) << 20));
}

// The memcpy baseline: copy `bytes` into a freshly allocated buffer, as the codec must.
void BM_Memcpy(benchmark::State& state) {
    size_t bytes = static_cast<size_t>(state.range(0));
    std::vector<char> source(bytes, 0x5A);
    for (auto _ : state) {
        char* dest = static_cast<char*>(std::malloc(bytes));
        std::memcpy(dest, source.data(), bytes);
        benchmark::DoNotOptimize(dest);
        std::free(dest);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

} // namespace

BENCHMARK(BM_WriteIntegers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadIntegers)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->Arg(IntegerCount * 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteStrings)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadStrings)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->Arg(StringCount * 15)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyStream64MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
