// fuzz_seeds.cpp: writes the seed corpus of each fuzz target from the test
// cases (tests/cases/*.txt) and the template/data pairs of examples/ and
// tests/data/, each in its target's input format:
//
//   OUT/render/NAME    template, a NUL byte, then the data (no NUL without data)
//   OUT/template/NAME  the template
//   OUT/json/NAME      the data, when there is any
//
//   fuzz_seeds SOURCE_DIR OUT
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "case_file.h"

namespace {

namespace fs = std::filesystem;

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

std::vector<fs::path> filesWithExtension(const fs::path& dir, const std::string& extension) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    if (entry.path().extension() == extension) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

class SeedWriter {
 public:
  explicit SeedWriter(fs::path out) : out_(std::move(out)) {
    for (const char* target : {"render", "template", "json"}) fs::create_directories(out_ / target);
  }

  void add(const std::string& name, const std::string& templateText, const std::optional<std::string>& data) {
    std::string render = templateText;
    if (data) render += '\0' + *data;
    write("render", name, render);
    write("template", name, templateText);
    if (data && !data->empty()) write("json", name, *data);
  }

  bool ok() const { return ok_; }
  int count() const { return count_; }

 private:
  void write(const char* target, const std::string& name, const std::string& bytes) {
    std::ofstream file(out_ / target / name, std::ios::binary);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) ok_ = false;
    ++count_;
  }

  fs::path out_;
  bool ok_ = true;
  int count_ = 0;
};

// The `.liquid` files of a folder, each with the `.json` of the same name if
// there is one.
bool addPairs(SeedWriter& seeds, const fs::path& dir) {
  for (const fs::path& liquid : filesWithExtension(dir, ".liquid")) {
    auto templateText = readFile(liquid);
    if (!templateText) return false;
    fs::path json = fs::path(liquid).replace_extension(".json");
    seeds.add(dir.filename().string() + "-" + liquid.stem().string(), *templateText,
              fs::exists(json) ? readFile(json) : std::nullopt);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_seeds SOURCE_DIR OUT\n");
    return 2;
  }
  const fs::path source = argv[1];
  SeedWriter seeds(argv[2]);
  for (const fs::path& file : filesWithExtension(source / "tests" / "cases", ".txt")) {
    auto text = readFile(file);
    if (!text) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    int n = 0;
    for (const auto& c : mervalt::test::parseCaseFile(file.filename().string(), *text))
      seeds.add(file.stem().string() + "-" + std::to_string(++n), c.templateText, c.data);
  }
  if (!addPairs(seeds, source / "examples") || !addPairs(seeds, source / "tests" / "data") || !seeds.ok()) {
    std::fprintf(stderr, "cannot read the examples or write the seeds\n");
    return 1;
  }
  std::printf("wrote %d seed files\n", seeds.count());
  return 0;
}
