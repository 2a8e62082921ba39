// The trash: made where it is missing, records that tell where each file was, files of one name
// kept apart, a trash that refuses a file keeping it in place, and the trash of another file system.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "tests/support/files.h"

namespace {

void ExpectRecord(const std::string& info, const std::string& path) {
  const std::string head = "[Trash Info]\nPath=" + path + "\nDeletionDate=";
  EXPECT_TRUE(
      info.starts_with(head) &&
      std::regex_match(info.substr(head.size()), std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
      << info;
}

int Mode(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode) : -1;
}

// Never the user's own trash: the home and data folders are in the scratch folder.
class Trash : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HOME", Scratch.File("home").c_str(), 1);
    setenv("XDG_DATA_HOME", Scratch.File("data").c_str(), 1);
    for (const char* dir : {"home", "a", "b", "c"}) ::mkdir(Scratch.File(dir).c_str(), 0700);
  }
  std::string Put(const std::string& name, const std::string& bytes) {
    WriteFile(Scratch.File(name), bytes);
    return Scratch.File(name);
  }
  ScratchDir Scratch;
  const std::string Bin = Scratch.File("data/Trash/");
};

TEST_F(Trash, HomeTrashIsMadeWithRecordsOfWherePathsOfAnyBytesWere) {
  setenv("XDG_DATA_HOME", "data", 1);  // relative: unset, so that no trash lands in the working directory
  const std::string bin = Scratch.File("home/.local/share/Trash/"), name = "a b%\xff.wav";
  Put("a/" + name, "one");
  char cwd[4096];
  ASSERT_TRUE(::symlink("a", Scratch.File("linked").c_str()) == 0 &&
              ::symlink("gone", Scratch.File("a/link").c_str()) == 0);
  ASSERT_TRUE(getcwd(cwd, sizeof cwd) != nullptr && chdir(Scratch.Dir().c_str()) == 0);
  EXPECT_EQ(MoveToTrash("linked/" + name), TrashMoved);
  EXPECT_EQ(MoveToTrash("a/link"), TrashMoved);  // the link itself, though it leads nowhere
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(ListDir(Scratch.File("a")), "");
  EXPECT_EQ(ReadFile(bin + "files/" + name), "one");
  ExpectRecord(ReadFile(bin + "info/" + name + ".trashinfo"), Scratch.File("a/a%20b%25%FF.wav"));
  for (const char* dir : {"", "files", "info"}) EXPECT_EQ(Mode(bin + dir) & 0777, 0700) << dir;
}

TEST_F(Trash, FilesOfOneNameAreKeptApart) {
  ASSERT_EQ(MoveToTrash(Put("a/song.wav", "a")), TrashMoved);
  ASSERT_EQ(MoveToTrash(Put("b/song.wav", "b")), TrashMoved);
  WriteFile(Bin + "files/song.wav.3", "kept");  // a trashed file that lost its record
  ASSERT_EQ(MoveToTrash(Put("c/song.wav", "c")), TrashMoved);
  EXPECT_EQ(ListDir(Bin + "info"), "song.wav.2.trashinfo song.wav.4.trashinfo song.wav.trashinfo");
  EXPECT_EQ(ReadFile(Bin + "files/song.wav.3") + ReadFile(Bin + "files/song.wav.4"), "keptc");
  ExpectRecord(ReadFile(Bin + "info/song.wav.2.trashinfo"), Scratch.File("b/song.wav"));
  // A name as long as a directory entry allows still gets a record beside it.
  EXPECT_EQ(MoveToTrash(Put(std::string(255, 'x'), "long")), TrashMoved);
}

TEST_F(Trash, BeforeReplaceKeepsTheNameUntilTheRenameReplacesItAndCanBeTakenBack) {
  const std::string out = Put("out.mp3", "old");
  TrashedFile trashed;
  ASSERT_EQ(TrashBeforeReplace(out, &trashed), TrashMoved);
  EXPECT_EQ(ReadFile(out), "old");
  ASSERT_EQ(::rename(Put("out.tmp", "new").c_str(), out.c_str()), 0);
  EXPECT_EQ(ReadFile(out) + ReadFile(Bin + "files/out.mp3"), "newold");
  ExpectRecord(ReadFile(Bin + "info/out.mp3.trashinfo"), out);
  // The new file was a failed job's: the old one takes its name back (or only its copy goes).
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(TakeBackFromTrash(trashed));
    EXPECT_EQ(ReadFile(out) + ListDir(Bin + "files") + ListDir(Bin + "info"), "old");
    ASSERT_EQ(TrashBeforeReplace(out, &trashed), TrashMoved);
  }
}

TEST_F(Trash, TrashThatRefusesTheFileKeepsItInPlace) {
  const std::string song = Put("song.wav", "x");
  ASSERT_TRUE(::mkdir(Scratch.File("data").c_str(), 0700) == 0 && ::mkdir(Bin.c_str(), 0700) == 0);
  WriteFile(Bin + "info", "");  // no directory for the records
  EXPECT_EQ(MoveToTrash(song), TrashFailed);
  EXPECT_EQ(TrashReady(song), TrashFailed);
  // The move fails after the record is written (a mount point cannot move): the record goes again.
  ASSERT_TRUE(::unlink((Bin + "info").c_str()) == 0 && ::mkdir((Bin + "info").c_str(), 0700) == 0);
  if (::mount(Put("other", "").c_str(), song.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    if (geteuid() == 0) GTEST_SKIP() << "no mount permitted, and permissions do not hold for root";
    ::chmod((Bin + "files").c_str(), 0500);
  }
  EXPECT_EQ(MoveToTrash(song), TrashFailed);
  EXPECT_EQ(ListDir(Bin + "info"), "");
  ::umount2(song.c_str(), MNT_DETACH);
  EXPECT_EQ(ReadFile(song), "x");
}

// A file system of its own (a tmpfs) in the scratch folder, where the home trash cannot take files.
class TrashElsewhere : public Trash {
 protected:
  void SetUp() override {
    Trash::SetUp();
    if (::mount("tmpfs", Scratch.File("a").c_str(), "tmpfs", 0, "size=1m") != 0) GTEST_SKIP() << "no mount";
  }
  void TearDown() override { ::umount2(Scratch.File("a").c_str(), MNT_DETACH); }
  const std::string Own = Scratch.File("a/.Trash-" + std::to_string(geteuid()) + "/");
};

TEST_F(TrashElsewhere, TopTrashIsMadeThereWithPathsFromTheTop) {
  ::mkdir(Scratch.File("a/sub").c_str(), 0700);
  ASSERT_EQ(MoveToTrash(Put("a/sub/song.wav", "song")), TrashMoved);
  EXPECT_EQ(ReadFile(Own + "files/song.wav"), "song");
  ExpectRecord(ReadFile(Own + "info/song.wav.trashinfo"), "sub/song.wav");
  EXPECT_EQ(Mode(Own) & 0777, 0700);
  // A shared .Trash is used only when it is sticky, so that no user can remove another's files.
  ASSERT_EQ(::mkdir(Scratch.File("a/.Trash").c_str(), 0777), 0);
  ASSERT_EQ(MoveToTrash(Put("a/b.wav", "")), TrashMoved);
  EXPECT_TRUE(FileExists(Own + "files/b.wav"));
  ASSERT_TRUE(::chmod(Scratch.File("a/.Trash").c_str(), 01777) == 0 &&
              MoveToTrash(Put("a/c.wav", "")) == TrashMoved);
  ExpectRecord(ReadFile(Scratch.File("a/.Trash/" + std::to_string(geteuid()) + "/info/c.wav.trashinfo")),
               "c.wav");
}

// No trash of our own there (a file in the way, a folder another user owns): the file stays.
TEST_F(TrashElsewhere, WithoutATrashOfOurOwnTheFileStays) {
  const std::string song = Put("a/song.wav", ""), own = Own.substr(0, Own.size() - 1);
  WriteFile(own, "");  // where the trash would be
  EXPECT_EQ(MoveToTrash(song), TrashUnavailable);
  ASSERT_TRUE(::unlink(own.c_str()) == 0 && ::mkdir(own.c_str(), 0700) == 0);
  if (::chown(own.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "giving a folder to another user needs root";
  EXPECT_EQ(TrashReady(song), TrashUnavailable);
  EXPECT_EQ(MoveToTrash(song), TrashUnavailable);
  EXPECT_TRUE(FileExists(song));
}

}  // namespace
