// Millisecond tick counter: a monotonic clock truncated to an unsigned 32-bit count, so it
// wraps after 49.7 days like the Windows tick count that the time displays were designed for.
#pragma once
#include <cstdint>

uint32_t GetTickCount();
