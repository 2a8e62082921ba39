// The handler's state is fixed memory read with a lock-free atomic: a signal handler may not
// allocate or take a lock, and a process-directed signal may be handled by any thread, also one
// that is just starting an output.
#include "platform/outputsignals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace {

char SignalTemp[4096];
std::atomic<bool> SignalTempArmed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

void RemoveTempAndEnd(int sig) {
  if (SignalTempArmed.load()) unlink(SignalTemp);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void ArmSignalCleanup(const std::string& tempPath) {
  SignalTempArmed.store(false);
  if (tempPath.size() >= sizeof SignalTemp) return;  // only the normal ends remove it then
  std::memcpy(SignalTemp, tempPath.c_str(), tempPath.size() + 1);
  SignalTempArmed.store(true);
}

void DisarmSignalCleanup() { SignalTempArmed.store(false); }

void PrepareOutputSignals() {
  signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = RemoveTempAndEnd;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}
