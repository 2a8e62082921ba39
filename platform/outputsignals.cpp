// The handler's state is fixed memory read with lock-free atomics: a signal handler may not
// allocate or take a lock, and a process-directed signal may be handled by any thread, also one
// that is just starting a file.
#include "platform/outputsignals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <iterator>

namespace {

enum SlotState : int { SlotFree = 0, SlotFilling, SlotArmed };

struct CleanupSlot {
  std::atomic<int> State{SlotFree};
  char Path[4096];  // PATH_MAX: a longer name cannot be opened anyway
};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

// 8: Sonivert writes at most two files at once (the decoder's output and a save of the
// settings), tompg and sonivert-decode one; the rest is room to spare.
CleanupSlot Slots[8];

void RemoveArmedAndEnd(int sig) {
  for (CleanupSlot& slot : Slots)
    if (slot.State.load() == SlotArmed) unlink(slot.Path);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

int ArmSignalCleanup(const std::string& tempPath) {
  if (tempPath.size() >= sizeof Slots[0].Path) return -1;
  for (int i = 0; i < static_cast<int>(std::size(Slots)); ++i) {
    int expected = SlotFree;
    if (!Slots[i].State.compare_exchange_strong(expected, SlotFilling)) continue;
    std::memcpy(Slots[i].Path, tempPath.c_str(), tempPath.size() + 1);
    Slots[i].State.store(SlotArmed);
    return i;
  }
  return -1;
}

void DisarmSignalCleanup(int& slot) {
  if (slot >= 0 && slot < static_cast<int>(std::size(Slots))) Slots[slot].State.store(SlotFree);
  slot = -1;
}

void PrepareOutputSignals() {
  signal(SIGXFSZ, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = RemoveArmedAndEnd;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}
