// mervalt_cli.cpp: the `mervalt` command, rendering a template file against a
// JSON file and explaining on standard error why it could not.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "memory/arena.h"
#include "cli_check.h"
#include "cli_batch.h"
#include "cli_files.h"
#include "cli_partials.h"
#include "cli_report.h"
#include "data/json_check.h"
#include "data/json_input.h"
#include "mervalt_version.h"
#include "api/call.h"

namespace {

using namespace mervalt::cli;

constexpr int kExitRenderFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "usage: mervalt [OPTIONS] TEMPLATE [DATA]\n"
    "       mervalt check [OPTIONS] TEMPLATE...   (see mervalt check --help)\n"
    "       mervalt --each RECORDS [OPTIONS] TEMPLATE\n"
    "\n"
    "Renders the Liquid template in TEMPLATE against the JSON document in DATA\n"
    "and writes the result, byte for byte, to standard output. TEMPLATE or DATA\n"
    "may be '-' for standard input, but not both. Without DATA, or with an empty\n"
    "file, the template sees no data. include and render find templates under\n"
    "the \"templates\" key of the data, and with --partials in a folder.\n"
    "\n"
    "With --each, every line of RECORDS (NDJSON: one JSON document a line) is\n"
    "rendered on its own, in input order, to standard output or with -o to a\n"
    "file of its own; a record that fails is reported and the others go on.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE  write the result to FILE instead; FILE is replaced only\n"
    "                     when rendering succeeds. With --each, a template naming\n"
    "                     each record's file ('out/{{ id }}.html'), which must stay\n"
    "                     in the folder written before its first {{ or {%\n"
    "  --partials DIR     read every *.liquid file under DIR as a template named by\n"
    "                     its path below DIR without .liquid (card, emails/header);\n"
    "                     a name that the data's own templates define keeps the\n"
    "                     data's text\n"
    "  --strict-data      fail (exit 2) when DATA is not readable JSON, instead of\n"
    "                     warning and rendering without data (with --each such a\n"
    "                     record always fails)\n"
    "  --max-memory SIZE  memory the render may hold, output included (bytes, or\n"
    "                     with K, M or G: 512M); by default 64M and 32 bytes per\n"
    "                     byte of template and data\n"
    "  --max-output SIZE  bytes of output (default 1G)\n"
    "  --max-work UNITS   units of work (default 10,000,000 and 4 per byte of data)\n"
    "  --each RECORDS     render TEMPLATE against every line of RECORDS; a line that\n"
    "                     is not readable JSON fails that record\n"
    "  -j, --jobs N       with --each, render on N threads (default: one per core)\n"
    "  --progress, --no-progress  with --each, show or hide the progress line on\n"
    "                     standard error (default: shown on a terminal)\n"
    "  --version          print the version\n"
    "  -h, --help         print this help\n"
    "  --                 end of options\n"
    "\n"
    "A template that does not parse is reported as FILE:LINE:COLUMN: error: ...,\n"
    "one in the data's templates as FILE: in partial 'NAME' LINE:COLUMN: error: ...\n"
    "and DATA that is not readable JSON as DATA:LINE:COLUMN: warning: ...\n"
    "With --each, a record that fails is reported as RECORDS:LINE: error: ...\n"
    "and the run ends with the count of records rendered and failed.\n"
    "\n"
    "exit status:\n"
    "  0  rendered\n"
    "  1  the template could not be rendered: it does not parse, goes beyond a\n"
    "     render limit, or memory ran out (nothing is written); with --each,\n"
    "     some record failed\n"
    "  2  bad arguments, a file that cannot be read, output that cannot be\n"
    "     written, or DATA that is not readable JSON with --strict-data\n";

struct Options {
  std::string templatePath;
  std::optional<std::string> dataPath;
  std::optional<std::string> outputPath;
  std::optional<std::string> partialsDir;
  bool strictData = false;
  mervalt::LimitSettings limits;
  std::optional<std::string> recordsPath;  // --each
  unsigned jobs = 0;
  std::optional<bool> progress;
};

// The most threads -j takes: far more than any machine gives a gain from.
constexpr uint64_t kMaxJobs = 256;

// A positive count, with a binary suffix when `sizes` (K, M, G, and KiB,
// MiB, GiB alike); nothing when the text is not one.
std::optional<uint64_t> parseCount(std::string_view text, bool sizes) {
  uint64_t n = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (n > (UINT64_MAX - 9) / 10) return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(text[i] - '0');
  }
  if (i == 0 || n == 0) return std::nullopt;
  std::string_view unit = text.substr(i);
  if (unit.empty()) return n;
  if (!sizes) return std::nullopt;
  static constexpr std::pair<std::string_view, unsigned> kUnits[] = {
      {"K", 10}, {"KiB", 10}, {"M", 20}, {"MiB", 20}, {"G", 30}, {"GiB", 30}};
  for (auto [name, shift] : kUnits)
    if (unit == name) return n > (UINT64_MAX >> shift) ? std::nullopt : std::optional<uint64_t>(n << shift);
  return std::nullopt;
}

// Reads the value of a --max-* option into `into`; false after saying why.
bool readLimit(std::string_view option, const std::string& value, bool sizes, uint64_t& into) {
  std::optional<uint64_t> n = parseCount(value, sizes);
  if (!n) {
    std::fprintf(stderr, "mervalt: option '%s' needs a positive %s, not '%s'\n", std::string(option).c_str(),
                 sizes ? "size (bytes, or with K, M or G)" : "number", value.c_str());
    return false;
  }
  into = *n;
  return true;
}

bool readJobs(const std::string& value, unsigned& jobs) {
  std::optional<uint64_t> n = parseCount(value, false);
  if (!n || *n > kMaxJobs) {
    std::fprintf(stderr, "mervalt: option '-j' needs a number of threads from 1 to %u, not '%s'\n",
                 static_cast<unsigned>(kMaxJobs), value.c_str());
    return false;
  }
  jobs = static_cast<unsigned>(*n);
  return true;
}

enum class Parsed { Run, Help, Version, Bad };

// The value of an option written as "--name VALUE" or "--name=VALUE".
std::optional<std::string> optionValue(std::string_view arg, std::string_view name, int& i, int argc,
                                       char** argv, bool& bad) {
  if (arg == name) {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "mervalt: option '%s' needs a value\n", std::string(name).c_str());
      bad = true;
      return std::nullopt;
    }
    return std::string(argv[++i]);
  }
  if (name.size() > 2 && arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
    return std::string(arg.substr(name.size() + 1));
  return std::nullopt;
}

Parsed parseArgs(int argc, char** argv, Options& o) {
  std::vector<std::string> files;
  bool optionsEnded = false, bad = false;
  for (int i = 1; i < argc && !bad; ++i) {
    std::string_view arg = argv[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      files.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      return Parsed::Help;
    } else if (arg == "--version") {
      return Parsed::Version;
    } else if (arg == "--strict-data") {
      o.strictData = true;
    } else if (arg == "--progress" || arg == "--no-progress") {
      o.progress = arg == "--progress";
    } else if (auto records = optionValue(arg, "--each", i, argc, argv, bad)) {
      o.recordsPath = *records;
    } else if (auto v = optionValue(arg, "-j", i, argc, argv, bad)) {
      bad = !readJobs(*v, o.jobs);
    } else if (auto v = optionValue(arg, "--jobs", i, argc, argv, bad)) {
      bad = !readJobs(*v, o.jobs);
    } else if (auto out = optionValue(arg, "-o", i, argc, argv, bad)) {
      o.outputPath = *out;
    } else if (auto out = optionValue(arg, "--output", i, argc, argv, bad)) {
      o.outputPath = *out;
    } else if (auto dir = optionValue(arg, "--partials", i, argc, argv, bad)) {
      o.partialsDir = *dir;
    } else if (auto v = optionValue(arg, "--max-memory", i, argc, argv, bad)) {
      bad = !readLimit("--max-memory", *v, true, o.limits.memory);
    } else if (auto v = optionValue(arg, "--max-output", i, argc, argv, bad)) {
      bad = !readLimit("--max-output", *v, true, o.limits.output);
    } else if (auto v = optionValue(arg, "--max-work", i, argc, argv, bad)) {
      bad = !readLimit("--max-work", *v, false, o.limits.work);
    } else if (!bad) {
      std::fprintf(stderr, "mervalt: unknown option '%s'\n", argv[i]);
      bad = true;
    }
  }
  if (bad || files.empty() || files.size() > (o.recordsPath ? 1 : 2)) return Parsed::Bad;
  if (!o.recordsPath && (o.jobs || o.progress)) {
    std::fputs("mervalt: -j, --progress and --no-progress go with --each\n", stderr);
    return Parsed::Bad;
  }
  o.templatePath = files[0];
  if (files.size() == 2) o.dataPath = files[1];
  return Parsed::Run;
}

// The data document to render with: the data, checked (and with --partials
// given the templates read from files), or nothing after a reported error.
std::optional<std::string> prepareData(const Options& o, Sources& sources) {
  std::string data;
  if (o.dataPath) {
    std::optional<std::string> d = readInput(*o.dataPath, mervalt::kJsonPadding);
    if (!d) return std::nullopt;
    data = std::move(*d);
  }
  if (std::optional<mervalt::JsonProblem> problem = mervalt::findJsonProblem(data)) {
    std::fprintf(stderr, "%s\n", describeDataProblem(inputName(*o.dataPath), *problem, o.strictData).c_str());
    if (o.strictData) return std::nullopt;
    if (o.partialsDir) data.clear();  // the library reads the data as none; the partials still count
  }
  if (!o.partialsDir) return data;
  std::string error;
  std::optional<std::vector<PartialFile>> files = readPartials(*o.partialsDir, error);
  if (!files) {
    std::fprintf(stderr, "mervalt: %s\n", error.c_str());
    return std::nullopt;
  }
  MergedData merged = mergePartials(data, *files);
  // A name that the data defines keeps the data's text: no file to point at.
  for (const PartialFile& f : *files)
    if (std::find(merged.fromFiles.begin(), merged.fromFiles.end(), f.name) != merged.fromFiles.end())
      sources.partialFiles.emplace(f.name, f.path);
  return merged.json;
}

bool writeResult(const Options& o, std::string_view bytes) {
  std::string error;
  if (!o.outputPath || *o.outputPath == "-") {
    if (writeStandardOutput(bytes, error)) return true;
    std::fprintf(stderr, "mervalt: cannot write the output: %s\n", error.c_str());
    return false;
  }
  if (replaceFile(*o.outputPath, bytes, error)) return true;
  std::fprintf(stderr, "mervalt: cannot write '%s': %s\n", o.outputPath->c_str(), error.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // A template file named "check" is given as ./check.
  if (argc > 1 && std::string_view(argv[1]) == "check") return mervalt::cli::runCheck(argc - 1, argv + 1);
  Options o;
  switch (parseArgs(argc, argv, o)) {
    case Parsed::Help: std::fputs(kUsage, stdout); return 0;
    case Parsed::Version: std::puts("mervalt " MERVALT_VERSION_STRING); return 0;
    case Parsed::Bad: std::fputs(kUsage, stderr); return kExitUsage;
    case Parsed::Run: break;
  }
  if (o.recordsPath)
    return runBatch({o.templatePath, *o.recordsPath, o.outputPath, o.partialsDir, o.limits, o.jobs, o.progress});
  if (o.templatePath == "-" && o.dataPath == "-") {
    std::fputs("mervalt: only one of TEMPLATE and DATA can be '-' (standard input)\n", stderr);
    return kExitUsage;
  }
  std::optional<std::string> templateText = readInput(o.templatePath);
  if (!templateText) return kExitUsage;
  Sources sources{inputName(o.templatePath), {}};
  std::optional<std::string> data = prepareData(o, sources);
  if (!data) return kExitUsage;

  // The data is followed by the reader's padding, which spares the library
  // a copy of a document that may be large.
  std::size_t dataSize = data->size();
  data->append(mervalt::kJsonPadding, ' ');
  std::pair<char*, std::size_t> out;
  try {
    mervalt::Limits limits = mervalt::limitsFor(templateText->size(), dataSize, o.limits);
    mervalt::HeapResource heap(limits);
    out = mervalt::renderCall(*templateText, mervalt::JsonInput(std::string_view(*data).substr(0, dataSize), true),
                              heap, limits);
  } catch (...) {
    std::fprintf(stderr, "%s\n", describeRenderFailure(sources).c_str());
    return kExitRenderFailed;
  }
  bool written = writeResult(o, {out.first, out.second});
  std::free(out.first);
  return written ? 0 : kExitUsage;
}
