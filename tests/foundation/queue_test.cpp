// The queue: removal and its 1000-entry bound.
#include "model/queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class QueueTest : public ::testing::Test {
 protected:
  void SetUp() override { Fill(0); }
  void TearDown() override { Fill(0); }
  // Puts entries named "0", "1", ... into the queue.
  static void Fill(int n) {
    while (QueueCount > 0) RemoveQueueEntry(QueueCount - 1);
    for (int i = 0; i < n; ++i) {
      QueueEntry e;
      e.Path = std::to_string(i);
      e.FileSize = static_cast<uint32_t>(i);
      ASSERT_TRUE(AppendQueueEntry(e));
    }
  }
  static std::string Paths() {
    std::string out;
    for (int i = 0; i < QueueCount; ++i) out += (i ? "," : "") + JobQueue[i].Path;
    return out;
  }
};

}  // namespace

TEST_F(QueueTest, RemoveEntryMovesLaterEntriesDown) {
  struct Row {
    const char* name;
    int count;
    int index;
    const char* after;
  };
  const std::vector<Row> rows = {
      {"head", 4, 0, "1,2,3"},
      {"middle", 4, 1, "0,2,3"},
      {"last", 4, 3, "0,1,2"},
      {"only entry", 1, 0, ""},
      {"at count", 4, 4, "0,1,2,3"},
      {"past count", 4, 999, "0,1,2,3"},
      {"past the array", 4, 1000, "0,1,2,3"},
      {"negative", 4, -1, "0,1,2,3"},
      {"empty queue", 0, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fill(row.count);
    RemoveQueueEntry(row.index);
    EXPECT_EQ(Paths(), row.after);
  }
  // The slot freed at the end holds no stale entry that a later append could show.
  Fill(3);
  RemoveQueueEntry(0);
  EXPECT_TRUE(JobQueue[2].Path.empty());
  EXPECT_EQ(JobQueue[2].FileSize, 0u);
}

TEST_F(QueueTest, QueueHoldsAtMostOneThousandEntries) {
  Fill(MaxQueueEntries);
  EXPECT_EQ(QueueCount, 1000);
  QueueEntry extra;
  extra.Path = "extra";
  EXPECT_FALSE(AppendQueueEntry(extra));
  EXPECT_EQ(QueueCount, 1000);
  EXPECT_EQ(JobQueue[999].Path, "999");
  RemoveQueueEntry(999);
  EXPECT_TRUE(AppendQueueEntry(extra));
  EXPECT_EQ(JobQueue[999].Path, "extra");
}
