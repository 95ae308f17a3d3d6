// replay_main.cpp: runs a fuzz target's entry point over files, outside
// libFuzzer, so that every build replays the inputs that once failed with the
// very checks the fuzzer makes.
//
//   fuzz_render_replay [--max-seconds=S] FILE_OR_DIRECTORY...
//
// A directory stands for the files in it (names starting with '.' skipped).
// An input that fails a check aborts the program; one that takes longer than
// S seconds fails it.
#include <algorithm>
#include <chrono>
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
  double maxSeconds = 0;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.starts_with("--max-seconds=")) {
      maxSeconds = std::atof(argv[i] + 14);
    } else if (!collect(arg, files)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  int slow = 0;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 2;
    }
    auto start = std::chrono::steady_clock::now();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (maxSeconds > 0 && seconds > maxSeconds) {
      std::fprintf(stderr, "%s: took %.1f s, more than %.1f s\n", file.c_str(), seconds, maxSeconds);
      ++slow;
    }
  }
  std::printf("replayed %zu inputs, %d too slow\n", files.size(), slow);
  return slow == 0 ? 0 : 1;
}
