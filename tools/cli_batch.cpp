// cli_batch.cpp: `mervalt --each`: compile once, render every record, report failures and the summary.
#include "cli_batch.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "cli_files.h"
#include "cli_output_names.h"
#include "cli_partials.h"
#include "cli_pipeline.h"
#include "cli_progress.h"
#include "cli_records.h"
#include "cli_report.h"
#include "engine/compiled_template.h"
#include "engine/partial_set.h"
#include "parse/parser.h"

namespace mervalt::cli {
namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// What the renders of every record share; only the folder's claims change
// during the run, one batch at a time.
struct Setup {
  std::string recordsName;
  std::unique_ptr<CompiledTemplate> page;
  std::unique_ptr<CompiledTemplate> pattern;  // -o
  std::optional<OutputFolder> folder;         // -o
};

struct Tally {
  uint64_t rendered = 0;
  uint64_t failed = 0;
};

void say(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

std::string failureAt(const Setup& setup, uint64_t line, const std::string& message) {
  return setup.recordsName + ":" + std::to_string(line) + ": error: " + message;
}

// The files of --partials, parsed into one set; null after saying why, with
// the exit status in `status`.
std::shared_ptr<const PartialSet> loadPartials(const BatchOptions& o, Sources& sources, int& status) {
  auto set = std::make_shared<const PartialSet>();
  if (!o.partialsDir) return set;
  std::string error;
  std::optional<std::vector<PartialFile>> files = readPartials(*o.partialsDir, error);
  if (!files) {
    say("mervalt: " + error);
    status = kExitUsage;
    return nullptr;
  }
  for (const PartialFile& f : *files) sources.partialFiles.emplace(f.name, f.path);
  try {
    for (const PartialFile& f : *files) set = set->with(f.name, f.text);
  } catch (...) {
    say(describeRenderFailure(sources));
    status = kExitFailed;
    return nullptr;
  }
  return set;
}

// The -o pattern, compiled, and its folder; 0 or the exit status after
// saying why not.
int preparePattern(const std::string& pattern, Setup& setup) {
  if (!patternVaries(pattern)) {
    say("mervalt: with --each, -o takes a pattern with {{ or {% that gives each record a file of its own, not '" +
        pattern + "'");
    return kExitUsage;
  }
  try {
    setup.pattern = std::make_unique<CompiledTemplate>(pattern, EngineSettings{{}, true},
                                                       std::make_shared<const PartialSet>());
  } catch (const ParseError& e) {
    say("mervalt: the -o pattern '" + pattern + "' does not parse: " + e.what() + " (at " +
        std::to_string(e.line) + ":" + std::to_string(e.column) + ")");
    return kExitUsage;
  }
  std::string error;
  setup.folder = OutputFolder::open(patternFolder(pattern), error);
  if (setup.folder) return 0;
  say("mervalt: " + error);
  return kExitUsage;
}

// Compiles the template with its partials, and the -o pattern; 0 or the exit
// status after saying why not.
int prepare(const BatchOptions& o, const std::string& templateText, Setup& setup) {
  Sources sources{inputName(o.templatePath), {}};
  int status = 0;
  std::shared_ptr<const PartialSet> partials = loadPartials(o, sources, status);
  if (!partials) return status;
  try {
    // Strict data: a line that is not readable JSON fails, rather than
    // rendering as if the record were empty.
    setup.page = std::make_unique<CompiledTemplate>(templateText, EngineSettings{o.limits, true}, partials);
  } catch (...) {
    say(describeRenderFailure(sources));
    return kExitFailed;
  }
  if (!o.outputPattern || *o.outputPattern == "-") return 0;
  return preparePattern(*o.outputPattern, setup);
}

void renderRecord(const Setup& setup, Work& work, const Record& record) {
  std::string_view json = work.input.text(record);
  try {
    Rendered page(setup.page->render(json, true));
    if (!setup.pattern) {
      work.output += page.view();
      return;
    }
    Rendered name(setup.pattern->render(json, true));
    work.files.push_back({record.line, std::string(name.view()), std::move(page), {}});
  } catch (...) {
    work.failures.push_back({record.line, describeRecordFailure(setup.recordsName, record.line)});
  }
}

bool emitOutput(Work& work, std::string& error) {
  if (!writeStandardOutput(work.output, error)) {
    error = "cannot write the output: " + error;
    return false;
  }
  return true;
}

// In input order: the names that records take, and those refused.
void claimNames(Setup& setup, Work& work) {
  for (OutputFile& file : work.files) {
    std::string reason;
    std::optional<std::string> relative = setup.folder->relativeName(file.name, reason);
    std::optional<uint64_t> earlier = relative ? setup.folder->claim(*relative, file.line) : std::nullopt;
    if (earlier) reason = "line " + std::to_string(*earlier) + " wrote it";
    if (relative && !earlier)
      file.relative = std::move(*relative);
    else
      work.failures.push_back(
          {file.line, failureAt(setup, file.line, "refusing to write " + quotedName(file.name) + ": " + reason)});
  }
}

void writeFiles(const Setup& setup, Work& work) {
  for (const OutputFile& file : work.files) {
    std::string error;
    if (!file.relative.empty() && !setup.folder->write(file.relative, file.name, file.bytes.view(), error))
      work.failures.push_back({file.line, failureAt(setup, file.line, error)});
  }
  work.files.clear();
}

void report(Progress& progress, Tally& tally, Work& work) {
  std::stable_sort(work.failures.begin(), work.failures.end(),
                   [](const Failure& a, const Failure& b) { return a.line < b.line; });
  for (const Failure& f : work.failures) progress.say(f.message);
  tally.failed += work.failures.size();
  tally.rendered += work.input.records.size() - work.failures.size();
  progress.advance(work.input.records.size(), work.input.fileOffset);
}

// By default the line is drawn when standard error is a terminal, and the
// results do not go to that same terminal.
bool showProgress(const BatchOptions& o) {
  if (o.progress) return *o.progress;
  bool toStandardOutput = !o.outputPattern || *o.outputPattern == "-";
  return ::isatty(STDERR_FILENO) && !(toStandardOutput && ::isatty(STDOUT_FILENO));
}

// By default one thread per core that the process may run on.
unsigned threadCount(const BatchOptions& o) {
  if (o.jobs) return o.jobs;
  cpu_set_t cores;
  if (::sched_getaffinity(0, sizeof cores, &cores) == 0) return std::max(1, CPU_COUNT(&cores));
  return std::max(1u, std::thread::hardware_concurrency());
}

std::string summary(const Tally& tally) {
  uint64_t total = tally.rendered + tally.failed;
  return "mervalt: " + withSeparators(tally.rendered) + " of " + withSeparators(total) +
         (total == 1 ? " record" : " records") + " rendered, " + withSeparators(tally.failed) + " failed";
}

int renderAll(const BatchOptions& o, Setup& setup, RecordReader& reader) {
  Progress progress(showProgress(o), reader.fileSize());
  Tally tally;
  Stages stages;
  stages.render = [&](Work& w) {
    for (const Record& r : w.input.records) renderRecord(setup, w, r);
  };
  if (setup.pattern) {
    stages.emit = [&](Work& w, std::string&) {
      claimNames(setup, w);
      return true;
    };
    stages.write = [&](Work& w) { writeFiles(setup, w); };
  } else {
    stages.emit = emitOutput;
  }
  stages.report = [&](Work& w) { report(progress, tally, w); };
  stages.allRead = [&](uint64_t records) { progress.setTotal(records); };
  std::string error;
  bool finished = Pipeline(stages, threadCount(o)).run(reader, setup.recordsName, error);
  progress.finish();
  if (!finished) {
    progress.say("mervalt: " + error);
    return kExitUsage;
  }
  progress.say(summary(tally));
  return tally.failed ? kExitFailed : 0;
}

}  // namespace

int runBatch(const BatchOptions& o) {
  if (o.templatePath == "-" && o.recordsPath == "-") {
    say("mervalt: only one of TEMPLATE and RECORDS can be '-' (standard input)");
    return kExitUsage;
  }
  std::optional<std::string> templateText = readInput(o.templatePath);
  if (!templateText) return kExitUsage;
  std::string error;
  std::optional<RecordReader> reader = RecordReader::open(o.recordsPath, error);
  if (!reader) {
    say("mervalt: cannot read '" + inputName(o.recordsPath) + "': " + error);
    return kExitUsage;
  }
  Setup setup{inputName(o.recordsPath), {}, {}, {}};
  if (int status = prepare(o, *templateText, setup)) return status;
  return renderAll(o, setup, *reader);
}

}  // namespace mervalt::cli
