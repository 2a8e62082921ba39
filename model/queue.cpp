#include "model/queue.h"

QueueEntry JobQueue[MaxQueueEntries];
int QueueCount = 0;
ConverterState Converter;

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

void ShowNotice(const std::string& text) {
  Converter.NoticeText = text;
  Converter.NoticeTicks = 10;
}
