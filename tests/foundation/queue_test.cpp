// The queue records, the scheduler state's initial values and the constant tables.
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

// At start-up the converter is idle and inactive, with nothing to hand to the first tick: no job
// end to handle, no frame count that an encoder's exit code could match, and a progress
// denominator that is never 0. The program-wide instance starts that way too.
TEST(ConverterStateTest, StartsIdleAndInactive) {
  const auto expectIdle = [](const ConverterState& state, const char* which) {
    SCOPED_TRACE(which);
    EXPECT_FALSE(state.SubmissionActive);
    EXPECT_TRUE(state.EndHandled);
    EXPECT_FALSE(state.Suspended);
    EXPECT_EQ(state.FramesDone, -1);
    EXPECT_NE(state.BytesTotal, 0u);
    EXPECT_EQ(state.StatusText, "Idle ...");
    EXPECT_FALSE(state.DecoderThread.Started);
    EXPECT_EQ(state.EncoderProcess.Pid, 0);
  };
  expectIdle(ConverterState{}, "a new ConverterState");
  expectIdle(Converter, "Converter");
  EXPECT_EQ(QueueCount, 0);
}
