#include "platform/tick.h"

#include <chrono>

uint32_t GetTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

int MillisecondsLeft(uint32_t start, int timeoutMs) {
  const uint32_t elapsed = GetTickCount() - start;  // 32-bit arithmetic: right across a wrap
  return elapsed >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
}
