// Runs a fuzz target's entry point over stored inputs without libFuzzer, so that the normal
// build replays each target's corpus as regression inputs. Arguments are folders (every regular
// file in them, in name order) or single files. A folder that is missing or holds no input fails
// the run: an emptied corpus must not pass as a clean replay. A finding aborts, as under the
// fuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}

// The regular files of a folder, in name order so that a run is repeatable.
bool ListFolder(const std::string& dir, std::vector<std::string>& files) {
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  std::vector<std::string> found;
  while (const dirent* e = readdir(d)) {
    const std::string path = dir + "/" + e->d_name;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) found.push_back(path);
  }
  closedir(d);
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FOLDER|FILE...\n", argv[0]);
    return 2;
  }
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    struct stat st {};
    if (stat(argv[i], &st) != 0) {
      fprintf(stderr, "%s: missing\n", argv[i]);
      return 1;
    }
    if (S_ISDIR(st.st_mode)) {
      const size_t before = files.size();
      if (!ListFolder(argv[i], files) || files.size() == before) {
        fprintf(stderr, "%s: no inputs in this folder\n", argv[i]);
        return 1;
      }
    } else {
      files.push_back(argv[i]);
    }
  }
  std::vector<uint8_t> bytes;
  for (const std::string& path : files) {
    if (!ReadFile(path, bytes)) {
      fprintf(stderr, "%s: cannot be read\n", path.c_str());
      return 1;
    }
    // A copy of exactly the input's length, so that a read past its end is caught by the
    // sanitizer build as it would be under the fuzzer.
    std::vector<uint8_t> input(bytes);
    static uint8_t none;
    LLVMFuzzerTestOneInput(input.empty() ? &none : input.data(), input.size());
  }
  printf("%zu inputs replayed\n", files.size());
  return 0;
}
