#include "Ticks.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<TTickSource> TestSource{nullptr};
}

uint32_t GetTickCount() {
    if (TTickSource source = TestSource.load(std::memory_order_relaxed)) return source();
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SetTickSourceForTesting(TTickSource source) {
    TestSource.store(source, std::memory_order_relaxed);
}
