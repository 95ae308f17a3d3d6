// cli_check.cpp: `mervalt check`: options, reading the templates, the data
// and the partials, and writing the findings or the data paths as text or
// JSON.
#include "cli_check.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check/checker.h"
#include "check/report_json.h"
#include "cli_files.h"
#include "cli_partials.h"
#include "cli_report.h"
#include "data/json_check.h"
#include "data/json_input.h"
#include "memory/arena.h"

namespace mervalt::cli {
namespace {

using check::CheckCode;
using check::Finding;

constexpr int kExitFound = 1;
constexpr int kExitUsage = 2;

const char* const kCheckUsage =
    "usage: mervalt check [OPTIONS] TEMPLATE...\n"
    "\n"
    "Finds the mistakes in Liquid templates that render without failing: unknown\n"
    "filters, wrong filter arguments, missing partials, undefined and unused\n"
    "variables, invalid operators, branches that never render. Each finding is a\n"
    "line FILE:LINE:COLUMN: SEVERITY: MESSAGE [CODE], in file order. A template\n"
    "file named 'check' is given as ./check.\n"
    "\n"
    "options:\n"
    "  --data FILE          the JSON the templates render with: names it lacks are\n"
    "                       reported (undefined-variable), its template store is\n"
    "                       searched for partials\n"
    "  --partials DIR       templates for include and render, as the renderer's\n"
    "                       --partials reads them; partials reached are checked too\n"
    "  --format text|json   json: one array of findings (file, line, column,\n"
    "                       severity, code, message, partial, suggestion)\n"
    "  --disable CODE,...   silence these codes\n"
    "  --fail-on warning|error  the least severity that makes the exit status 1\n"
    "                       (default warning)\n"
    "  --list-variables     print the data paths each template reads instead, one\n"
    "                       per line in order of first use: PATH<TAB>FILE:LINE:COLUMN\n"
    "  -h, --help           print this help\n"
    "\n"
    "codes: syntax (error), unknown-filter, filter-arguments, missing-partial,\n"
    "undefined-variable (with --data), unused-assign, invalid-operator,\n"
    "unreachable-branch (warnings)\n"
    "\n"
    "exit status: 0 nothing at or above --fail-on, 1 something, 2 bad arguments or\n"
    "a file that cannot be read\n";

struct CheckOptions {
  std::vector<std::string> templates;
  std::optional<std::string> dataPath;
  std::optional<std::string> partialsDir;
  bool json = false;
  bool listVariables = false;
  check::Severity failOn = check::Severity::Warning;
  check::CodeSet disabled = 0;
};

bool usageError(const std::string& message) {
  std::fprintf(stderr, "mervalt check: %s\n", message.c_str());
  return false;
}

bool readDisabled(std::string_view list, check::CodeSet& into) {
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    std::string_view name = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    std::optional<CheckCode> code = check::codeNamed(name);
    if (!code) return usageError("unknown code '" + std::string(name) + "' for --disable");
    into |= check::codeBit(*code);
  }
  return true;
}

// One option with its value ("--name VALUE" or "--name=VALUE"); false after
// a message when it is not well-formed.
bool readOption(std::string_view name, const std::string& value, CheckOptions& o) {
  if (name == "--data") o.dataPath = value;
  if (name == "--partials") o.partialsDir = value;
  if (name == "--disable") return readDisabled(value, o.disabled);
  if (name == "--format") {
    if (value != "text" && value != "json") return usageError("--format is text or json, not '" + value + "'");
    o.json = value == "json";
  }
  if (name == "--fail-on") {
    if (value != "warning" && value != "error") return usageError("--fail-on is warning or error, not '" + value + "'");
    o.failOn = value == "error" ? check::Severity::Error : check::Severity::Warning;
  }
  return true;
}

enum class Parsed { Run, Help, Bad };

Parsed parseCheckArgs(int argc, char** argv, CheckOptions& o) {
  static constexpr std::string_view kValued[] = {"--data", "--partials", "--format", "--disable", "--fail-on"};
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
      o.templates.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") return Parsed::Help;
    if (arg == "--list-variables") {
      o.listVariables = true;
      continue;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    bool known = std::find(std::begin(kValued), std::end(kValued), name) != std::end(kValued);
    if (!known) {
      usageError("unknown option '" + std::string(arg) + "'");
      return Parsed::Bad;
    }
    std::string value;
    if (name.size() < arg.size()) {
      value = arg.substr(name.size() + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      usageError("option '" + std::string(name) + "' needs a value");
      return Parsed::Bad;
    }
    if (!readOption(name, value, o)) return Parsed::Bad;
  }
  if (o.templates.empty()) return Parsed::Bad;
  return Parsed::Run;
}

std::string displayName(const std::string& path) { return path == "-" ? "<stdin>" : path; }

std::optional<std::string> readInput(const std::string& path, std::size_t spare = 0) {
  std::string error;
  std::optional<std::string> bytes = readFile(path, error, spare);
  if (!bytes) std::fprintf(stderr, "mervalt: cannot read '%s': %s\n", displayName(path).c_str(), error.c_str());
  return bytes;
}

// What every template is checked against: the data, its template store and
// the partial files. The texts live as long as the run.
struct Inputs {
  HeapResource heap;
  Arena arena{&heap};
  std::string dataText;
  Value data;
  std::vector<PartialFile> files;
  check::PartialCatalog partials;
};

bool loadInputs(const CheckOptions& o, Inputs& in) {
  if (o.dataPath) {
    std::optional<std::string> text = readInput(*o.dataPath);
    if (!text) return false;
    in.dataText = std::move(*text);
    bool readable = true;
    in.data = readJsonDocument(in.dataText, in.arena, false, &readable);
    // Only a document that does not read is read again, for the place why.
    if (std::optional<JsonProblem> problem = readable ? std::nullopt : findJsonProblem(in.dataText)) {
      std::fprintf(stderr, "%s\n", describeDataProblem(displayName(*o.dataPath), *problem, true).c_str());
      return false;
    }
    in.partials.addDataStore(in.data);
  }
  if (o.partialsDir) {
    std::string error;
    std::optional<std::vector<PartialFile>> files = readPartials(*o.partialsDir, error);
    if (!files) {
      std::fprintf(stderr, "mervalt: %s\n", error.c_str());
      return false;
    }
    in.files = std::move(*files);
    in.partials.markKnown();
    for (const PartialFile& f : in.files) in.partials.addText(f.name, f.text, f.path);
  }
  return true;
}

// "page.liquid:3:5", "page.liquid: in partial 'card' 3:5" or, for a
// partial read from a file, "parts/card.liquid:3:5".
std::string whereText(const std::string& file, const std::string& partial, const std::string& partialFile,
                      SourcePosition at) {
  std::string position = std::to_string(at.line) + ":" + std::to_string(at.column);
  if (partial.empty()) return file + ":" + position;
  if (!partialFile.empty()) return partialFile + ":" + position;
  return file + ": in partial '" + partial + "' " + position;
}

std::string findingLine(const std::string& file, const Finding& f) {
  std::string line = whereText(file, f.partial, f.file, f.at) + ": " +
                     std::string(check::severityName(check::severityOf(f.code))) + ": " + f.message + " [" +
                     std::string(check::codeName(f.code)) + "]";
  if (!f.file.empty()) line += " (partial '" + f.partial + "' of " + file + ")";
  return line;
}

// What the run prints, collected so that a partial reached from several
// templates is reported once, and so that JSON is one array.
struct Output {
  std::vector<std::string> items;
  std::set<std::string> seen;
  bool failed = false;

  void add(std::string item) {
    if (seen.insert(item).second) items.push_back(std::move(item));
  }
};

void reportFindings(const CheckOptions& o, const std::string& file, const check::CheckResult& result, Output& out) {
  for (const Finding& f : result.findings) {
    if (check::severityOf(f.code) >= o.failOn) out.failed = true;
    if (!o.json) {
      out.add(findingLine(file, f));
      continue;
    }
    std::string item;
    check::appendFindingJson(item, f, f.file.empty() ? file : f.file);
    out.add(std::move(item));
  }
}

void reportPaths(const CheckOptions& o, const std::string& file, const check::CheckResult& result, Output& out) {
  for (const Finding& f : result.findings)
    if (f.code == CheckCode::Syntax) {
      out.failed = true;
      std::fprintf(stderr, "%s\n", findingLine(file, f).c_str());
    }
  for (const check::DataPath& p : result.paths) {
    std::string item;
    if (o.json)
      check::appendPathJson(item, p, p.file.empty() ? file : p.file);
    else
      item = p.path + "\t" + whereText(file, p.partial, p.file, p.at);
    out.items.push_back(std::move(item));
  }
}

bool checkOne(const CheckOptions& o, Inputs& in, const std::string& path, Output& out) {
  std::optional<std::string> text = readInput(path);
  if (!text) return false;
  check::CheckRequest request{*text, o.dataPath ? &in.data : nullptr, &in.partials, o.disabled};
  if (o.listVariables) request.disabled = ~check::codeBit(CheckCode::Syntax);
  check::CheckResult result = check::checkTemplate(request);
  if (o.listVariables)
    reportPaths(o, displayName(path), result, out);
  else
    reportFindings(o, displayName(path), result, out);
  return true;
}

}  // namespace

int runCheck(int argc, char** argv) {
  CheckOptions o;
  switch (parseCheckArgs(argc, argv, o)) {
    case Parsed::Help: std::fputs(kCheckUsage, stdout); return 0;
    case Parsed::Bad: std::fputs(kCheckUsage, stderr); return kExitUsage;
    case Parsed::Run: break;
  }
  auto fromInput = std::count(o.templates.begin(), o.templates.end(), "-") + (o.dataPath == "-" ? 1 : 0);
  if (fromInput > 1) {
    std::fputs("mervalt check: standard input ('-') can be read only once\n", stderr);
    return kExitUsage;
  }
  Inputs in;
  if (!loadInputs(o, in)) return kExitUsage;
  Output out;
  for (const std::string& path : o.templates)
    if (!checkOne(o, in, path, out)) return kExitUsage;
  std::string text = o.json ? check::jsonArray(out.items) + "\n" : std::string();
  if (!o.json)
    for (const std::string& line : out.items) text += line + "\n";
  std::string error;
  if (!writeStandardOutput(text, error)) {
    std::fprintf(stderr, "mervalt: cannot write the output: %s\n", error.c_str());
    return kExitUsage;
  }
  return out.failed ? kExitFound : 0;
}

}  // namespace mervalt::cli
