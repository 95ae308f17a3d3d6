// cli_output_names.h: the names records give their -o files: their folder, refusals, and writing inside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace mervalt::cli {

// The folder an -o pattern writes into, as the pattern spells it: its text
// before the first "{{" or "{%", up to and including the last "/" there
// ("out/" for "out/{{ id }}.html", "" for the current folder).
std::string patternFolder(std::string_view pattern);

// Whether the pattern has any "{{" or "{%", without which every record would
// name the same file.
bool patternVaries(std::string_view pattern);

class OutputFolder {
 public:
  // The folder `prefix` (from patternFolder), created with its parents when
  // missing; nothing after setting `error`.
  static std::optional<OutputFolder> open(const std::string& prefix, std::string& error);

  // The name's path below the folder, in plain form ("a/b.html": no "." or
  // empty parts), or nothing after setting `reason` ("the name is absolute")
  // when the name is refused without looking at the disk: empty, holding a
  // NUL byte, absolute, not beginning with the folder, with a ".." part, or
  // naming a folder.
  std::optional<std::string> relativeName(std::string_view name, std::string& reason) const;

  // Takes `relative` for the record on `line`; when an earlier record took it
  // already, that record's line. Not thread-safe: records claim in order.
  std::optional<uint64_t> claim(const std::string& relative, uint64_t line);

  // Writes `bytes` whole to the file `relative` (shown as `name`), creating
  // missing folders below this one; refuses a path whose folders or file
  // resolve, symbolic links followed, outside this folder. Safe on any
  // number of threads at once.
  bool write(const std::string& relative, std::string_view name, std::string_view bytes,
             std::string& error) const;

 private:
  OutputFolder(std::string prefix, std::string real) : prefix_(std::move(prefix)), real_(std::move(real)) {}
  bool inside(const std::string& realPath) const;
  std::optional<std::string> placeFolders(const std::string& relative, std::string_view name,
                                          std::string& error) const;

  std::string prefix_;  // as the pattern spells it
  std::string real_;    // its real path: absolute, symbolic links resolved
  std::unordered_map<std::string, uint64_t> claimed_;  // names taken so far, with their line
};

// A name as messages show it: in quotes, control bytes as \xNN.
std::string quotedName(std::string_view name);

}  // namespace mervalt::cli
