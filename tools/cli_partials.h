// cli_partials.h: templates for include and render read from a folder, and
// the data document that carries them to the library.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mervalt::cli {

// One *.liquid file: its template name (path relative to the folder, without
// the extension, with "/" between folders), its path and its text.
struct PartialFile {
  std::string name;
  std::string path;
  std::string text;
};

// Every *.liquid file under `dir`, in name order. On a folder or file that
// cannot be read, or a file that is not UTF-8 text, sets `error` (naming it)
// and returns nothing.
std::optional<std::vector<PartialFile>> readPartials(const std::string& dir, std::string& error);

// The data with the files added to its template store, and the names that
// the files supplied.
struct MergedData {
  std::string json;
  std::vector<std::string> fromFiles;
};

// Adds the files to the template store of `data`, a readable JSON document or
// empty: to the object under "__templates" or else "templates" (the store the
// library looks in first), where a name the data already has keeps the data's
// text. A store that is not an object is replaced; data that is not an object
// becomes an object holding only "templates".
MergedData mergePartials(std::string_view data, const std::vector<PartialFile>& files);

}  // namespace mervalt::cli
