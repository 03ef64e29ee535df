// The control tree: creating and destroying many plain controls in one scheme (the cost every
// document load and reset pays per control), and the heap each control takes.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include "VektBase.h"

namespace {

constexpr int Controls = 100'000;

// Box-sized: a few pixels on the page, each at its own place.
void CreateControls(TVektPanel& panel) {
    TVektCustomScheme* scheme = panel.ActiveScheme();
    TVektLayer* layer = panel.ActiveLayer();
    for (int i = 0; i < Controls; ++i) {
        TVektControl* c = TVektControl::New<TVektControl>(&panel, layer, scheme);
        c->SetDocRect(TRect((i % 300) * 1000, (i / 300) * 1000, (i % 300) * 1000 + 20000,
                            (i / 300) * 1000 + 12000));
    }
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void BM_CreateControls(benchmark::State& state) {
    size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TVektPanel panel;
        size_t before = HeapInUse();
        state.ResumeTiming();
        CreateControls(panel);
        state.PauseTiming();
        bytes = HeapInUse() - before;
        panel.ActiveScheme()->Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * Controls);
    state.counters["ns/control"] =
        benchmark::Counter(double(state.iterations()) * Controls * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["bytes/control"] = double(bytes) / Controls;
}

void BM_DestroyControls(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        TVektPanel panel;
        CreateControls(panel);
        state.ResumeTiming();
        panel.ActiveScheme()->Clear();
    }
    state.SetItemsProcessed(state.iterations() * Controls);
    state.counters["ns/control"] =
        benchmark::Counter(double(state.iterations()) * Controls * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(BM_CreateControls)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DestroyControls)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
