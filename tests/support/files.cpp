#include "tests/support/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/sonivert-test-XXXXXX";
  const char* made = mkdtemp(pattern.data());
  EXPECT_NE(made, nullptr) << "no scratch directory under " << pattern;
  Path = made != nullptr ? pattern + "/" : std::string();
}

ScratchDir::~ScratchDir() {
  if (!Path.empty()) RemoveTree(Path);
}

namespace {
// A test never reaches the user's own data: an output that replaces a file sends the old one to
// the Trash under $XDG_DATA_HOME. Every test program gets a data folder of its own, removed at its
// end; tests of the Trash itself point XDG_DATA_HOME elsewhere again.
struct PrivateDataHome {
  std::string Dir;
  PrivateDataHome() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/sonivert-data-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return;
    Dir = pattern;
    setenv("XDG_DATA_HOME", Dir.c_str(), 1);
  }
  ~PrivateDataHome() {
    if (!Dir.empty() && getpid() == Owner) RemoveTree(Dir);
  }
  pid_t Owner = getpid();
} DataHome;
}  // namespace

void RemoveTree(const std::string& path) {
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path, ec);
}

// C streams, not std::ifstream: reading a directory then ends the text instead of throwing.
std::string ReadFile(const std::string& path) {
  std::string bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const std::string bytes = ReadFile(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void WriteFile(const std::string& path, const std::string& bytes, uint64_t totalSize) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    ASSERT_TRUE(out.good()) << "cannot write " << path;
  }
  if (totalSize > bytes.size()) {
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(totalSize)), 0) << path;
  }
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : " ") + n;
  return out;
}

int OpenFdCount() {
  int n = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

bool WaitFor(const std::function<bool()>& cond, int timeoutMs, int pollMicros) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(pollMicros));
  }
  return true;
}

int RunQuiet(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ProgramOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  const std::string dirs = path;
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
    if (access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}
