// Waiting in tests that run a Qt event loop.
#pragma once
#include <QCoreApplication>

#include "tests/support/files.h"

// Lets the event loop run until cond holds or the deadline passes.
template <typename Cond>
inline bool WaitForEvents(Cond cond, int timeoutMs = 60000) {
  return WaitFor(
      [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return cond();
      },
      timeoutMs);
}
