// Millisecond tick counter: a monotonic clock truncated to an unsigned 32-bit count, so it
// wraps after 49.7 days like the Windows tick count that the time displays were designed for.
#pragma once
#include <cstdint>

uint32_t GetTickCount();
// What is left of a wait of timeoutMs begun at the tick count `start`: 0 once it has run out.
int MillisecondsLeft(uint32_t start, int timeoutMs);
