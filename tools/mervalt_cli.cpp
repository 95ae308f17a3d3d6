// mervalt_cli.cpp: the `mervalt` command, rendering a template file against a JSON file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mervalt.h"

namespace {

constexpr int kExitRenderFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: mervalt TEMPLATE_FILE [DATA_FILE]\n"
    "\n"
    "Renders the Liquid template in TEMPLATE_FILE against the JSON document in\n"
    "DATA_FILE and writes the result to standard output, byte for byte.\n"
    "Either file may be '-' for standard input, but not both. Without DATA_FILE\n"
    "(or with an empty one) the template sees no data. A DATA_FILE that is not\n"
    "valid JSON also leaves the template without data. Templates named by\n"
    "include and render are looked up under the \"templates\" key of the data.\n"
    "\n"
    "exit status:\n"
    "  0  rendered\n"
    "  1  the template could not be rendered: it does not parse, nests or\n"
    "     includes itself too deeply, or memory ran out (nothing is written)\n"
    "  2  bad arguments, or a file could not be read or the output written\n";

struct Options {
  std::string templatePath;
  std::optional<std::string> dataPath;
};

std::optional<Options> parseArgs(int argc, char** argv, bool& help) {
  std::vector<std::string> files;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsEnded && (arg == "-h" || arg == "--help")) {
      help = true;
      return std::nullopt;
    }
    if (!optionsEnded && arg == "--version") {
      std::puts("mervalt " MERVALT_VERSION_STRING);
      std::exit(0);
    }
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "mervalt: unknown option '%s'\n", argv[i]);
      return std::nullopt;
    }
    files.emplace_back(arg);
  }
  if (files.empty() || files.size() > 2) return std::nullopt;
  Options o{files[0], std::nullopt};
  if (files.size() == 2) o.dataPath = files[1];
  return o;
}

// Reads a whole file (or standard input for "-") as bytes.
std::optional<std::string> readAll(const std::string& path) {
  bool isStdin = path == "-";
  std::FILE* f = isStdin ? stdin : std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "mervalt: cannot read '%s': %s\n", path.c_str(), std::strerror(errno));
    return std::nullopt;
  }
  std::string bytes;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  bool failed = std::ferror(f) != 0;
  int savedErrno = errno;
  if (!isStdin) std::fclose(f);
  if (failed) {
    std::fprintf(stderr, "mervalt: cannot read '%s': %s\n", isStdin ? "standard input" : path.c_str(),
                 std::strerror(savedErrno));
    return std::nullopt;
  }
  return bytes;
}

bool writeAll(const char* p, std::size_t len) {
  if (len > 0 && std::fwrite(p, 1, len, stdout) != len) return false;
  return std::fflush(stdout) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool help = false;
  std::optional<Options> opts = parseArgs(argc, argv, help);
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!opts) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  if (opts->templatePath == "-" && opts->dataPath == "-") {
    std::fputs("mervalt: only one of TEMPLATE_FILE and DATA_FILE can be '-' (standard input)\n", stderr);
    return kExitUsage;
  }

  std::optional<std::string> templateText = readAll(opts->templatePath);
  if (!templateText) return kExitUsage;
  std::string data;
  if (opts->dataPath) {
    std::optional<std::string> d = readAll(*opts->dataPath);
    if (!d) return kExitUsage;
    data = std::move(*d);
  }

  char* out = nullptr;
  std::size_t outLen = 0;
  if (mervalt_render_json(templateText->data(), templateText->size(), data.data(), data.size(), &out, &outLen) != 0) {
    const char* name = opts->templatePath == "-" ? "standard input" : opts->templatePath.c_str();
    std::fprintf(stderr,
                 "mervalt: %s: the template could not be rendered "
                 "(it does not parse, nests too deeply, or memory ran out)\n",
                 name);
    return kExitRenderFailed;
  }
  bool written = writeAll(out, outLen);
  mervalt_free(out, outLen);
  if (!written) {
    std::fprintf(stderr, "mervalt: cannot write the output: %s\n", std::strerror(errno));
    return kExitUsage;
  }
  return 0;
}
