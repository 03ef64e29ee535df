#pragma once

#include <cstdint>

// The system's millisecond tick: unsigned 32-bit, monotonic, wrapping after about 49.7 days.
// Intervals are always computed as now minus then in unsigned arithmetic.
uint32_t GetTickCount();

// Tests replace the clock to cross the 32-bit wrap without waiting for it; nullptr restores the
// real clock. Not meant for production code.
using TTickSource = uint32_t (*)();
void SetTickSourceForTesting(TTickSource source);
