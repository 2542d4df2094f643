// Replays fuzzer inputs without libFuzzer, so that any compiler's test build
// runs the corpus and the crash regressions: each argument is a file or a
// directory of files.

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool replayFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::vector<uint8_t> data;
  uint8_t chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    data.insert(data.end(), chunk, chunk + got);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  if (ok) LLVMFuzzerTestOneInput(data.data(), data.size());
  return ok;
}

int replay(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  if (!S_ISDIR(info.st_mode)) return replayFile(path) ? 1 : -1;
  DIR* directory = opendir(path.c_str());
  if (directory == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    const int replayed = replay(path + "/" + entry->d_name);
    if (replayed < 0) return -1;
    count += replayed;
  }
  closedir(directory);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int total = 0;
  for (int i = 1; i < argc; ++i) {
    const int replayed = replay(argv[i]);
    if (replayed < 0) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    total += replayed;
  }
  std::printf("replayed %d inputs\n", total);
  return 0;
}
