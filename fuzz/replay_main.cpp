// replay_main.cpp: runs a fuzz target's entry point over files, outside
// libFuzzer, so that every build replays the inputs that once failed with the
// very checks the fuzzer makes.
//
//   fuzz_render_replay FILE_OR_DIRECTORY...
//
// A directory stands for the files in it (names starting with '.' skipped).
// An input that fails a check aborts the program. Nothing is timed: within
// the fuzzing bounds every input takes milliseconds, and a hang is the test
// runner's timeout to catch.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool collect(const fs::path& path, std::vector<fs::path>& files) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    for (const auto& entry : fs::directory_iterator(path, ec))
      if (entry.is_regular_file() && !entry.path().filename().string().starts_with("."))
        files.push_back(entry.path());
    return !ec;
  }
  if (!fs::is_regular_file(path, ec)) return false;
  files.push_back(path);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!collect(arg, files)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 2;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replayed %zu inputs\n", files.size());
  return 0;
}
