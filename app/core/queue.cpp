#include "app/core/queue.h"

QueueEntry JobQueue[MaxQueueEntries];
int QueueCount = 0;
ConverterState Converter;

const uint32_t BitrateTable[BitrateCount] = {56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
const char ModeNameTable[4][20] = {"Stereo", "Joint stereo", "Dual", "Mono"};
const uint32_t PriorityClassTable[3] = {0x40, 0x20, 0x80};

void RemoveQueueEntry(int i) {
  if (i < 0 || i >= QueueCount) return;
  for (int k = i; k + 1 < QueueCount; ++k) JobQueue[k] = std::move(JobQueue[k + 1]);
  --QueueCount;
  JobQueue[QueueCount] = QueueEntry{};
}

bool AppendQueueEntry(const QueueEntry& entry) {
  if (QueueCount >= MaxQueueEntries) return false;
  JobQueue[QueueCount++] = entry;
  return true;
}
