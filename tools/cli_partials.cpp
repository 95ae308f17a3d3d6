// cli_partials.cpp: templates for include and render read from a folder, and
// the data document that carries them to the library.
#include "cli_partials.h"

#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unordered_set>

#include "cli_files.h"
#include "data/json_text.h"

namespace mervalt::cli {
namespace {

namespace fs = std::filesystem;
namespace od = simdjson::ondemand;

constexpr std::string_view kExtension = ".liquid";

// "name":"text" for every file whose name is not in `taken`, comma-separated;
// the names used go to `added`.
std::string storeEntries(const std::vector<PartialFile>& files, const std::unordered_set<std::string>& taken,
                         std::vector<std::string>& added) {
  std::string out;
  for (const PartialFile& f : files) {
    if (taken.count(f.name)) continue;
    if (!out.empty()) out += ',';
    appendJsonString(out, f.name);
    out += ':';
    appendJsonString(out, f.text);
    added.push_back(f.name);
  }
  return out;
}

// What the data says about its template store, with byte offsets into it.
struct DataShape {
  bool isObject = false;    // an object the library keeps as an object
  bool hasFields = false;   // the root object is not empty
  std::size_t rootEnd = 0;  // offset of the root object's closing brace
  std::string_view storeKey;
  std::size_t storeBegin = 0, storeEnd = 0;  // the store's value, when there is a store
  bool storeIsObject = false;
  std::unordered_set<std::string> storeNames;
};

// The keys of the object whose JSON text is `object`.
std::unordered_set<std::string> keysOf(std::string_view object) {
  std::unordered_set<std::string> keys;
  simdjson::padded_string padded(object);
  od::parser parser;
  od::document doc;
  od::object o;
  if (parser.iterate(padded).get(doc) || doc.get_object().get(o)) return keys;
  for (auto entry : o) {
    std::string_view key;
    if (entry.unescaped_key().get(key)) break;
    keys.emplace(key);
  }
  return keys;
}

// The extent of a value in `text`: from its first byte to its last.
std::pair<std::size_t, std::size_t> extentOf(od::value v, std::string_view text) {
  std::string_view raw;
  od::json_type type;
  if (v.type().get(type)) return {0, 0};
  if (type == od::json_type::object) {
    od::object o;
    if (v.get_object().get(o) || o.raw_json().get(raw)) return {0, 0};
  } else if (type == od::json_type::array) {
    od::array a;
    if (v.get_array().get(a) || a.raw_json().get(raw)) return {0, 0};
  } else {
    raw = v.raw_json_token();
  }
  std::size_t begin = static_cast<std::size_t>(raw.data() - text.data());
  std::size_t end = begin + raw.size();
  while (end > begin && std::string_view(" \t\r\n").find(text[end - 1]) != std::string_view::npos) --end;
  return {begin, end};
}

DataShape shapeOf(std::string_view data) {
  DataShape shape;
  simdjson::padded_string padded(data);
  std::string_view text(padded.data(), padded.size());
  od::parser parser;
  od::document doc;
  od::object root;
  if (parser.iterate(padded).get(doc) || doc.get_object().get(root)) return shape;
  for (auto entry : root) {
    od::field field;
    std::string_view key;
    if (std::move(entry).get(field) || field.unescaped_key().get(key)) return shape;
    shape.hasFields = true;
    // These keys turn the object into a range or a drop, which has no store.
    if (key == "_mervalt_range" || key == "_mervalt_boolean_drop") return DataShape{};
    bool preferred = key == "__templates";
    if (!preferred && (key != "templates" || shape.storeKey == "__templates")) continue;
    shape.storeKey = preferred ? "__templates" : "templates";
    auto [begin, end] = extentOf(field.value(), text);
    shape.storeBegin = begin;
    shape.storeEnd = end;
    shape.storeIsObject = text[begin] == '{';
  }
  shape.isObject = true;
  shape.rootEnd = data.find_last_of('}');
  if (shape.storeIsObject) shape.storeNames = keysOf(data.substr(shape.storeBegin, shape.storeEnd - shape.storeBegin));
  return shape;
}

}  // namespace

std::optional<std::vector<PartialFile>> readPartials(const std::string& dir, std::string& error) {
  std::vector<PartialFile> files;
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    std::error_code statError;
    if (path.extension() != kExtension || it->is_directory(statError)) continue;
    std::string reason;
    std::optional<std::string> text = readFile(path.string(), reason);
    if (!text) {
      error = "cannot read '" + path.string() + "': " + reason;
      return std::nullopt;
    }
    fs::path relative = path.lexically_relative(dir);
    std::string name = (relative.parent_path() / relative.stem()).generic_string();
    if (!simdjson::validate_utf8(text->data(), text->size()) || !simdjson::validate_utf8(name.data(), name.size())) {
      error = "'" + path.string() + "' is not UTF-8 text, which a template read as a partial must be";
      return std::nullopt;
    }
    files.push_back({std::move(name), path.string(), std::move(*text)});
  }
  if (ec) {
    error = "cannot read the partials folder '" + (it == end ? dir : it->path().string()) + "': " + ec.message();
    return std::nullopt;
  }
  std::sort(files.begin(), files.end(), [](const PartialFile& a, const PartialFile& b) { return a.name < b.name; });
  return files;
}

MergedData mergePartials(std::string_view data, const std::vector<PartialFile>& files) {
  MergedData merged;
  DataShape shape = data.empty() ? DataShape{} : shapeOf(data);
  if (!shape.isObject) {
    merged.json = "{\"templates\":{" + storeEntries(files, {}, merged.fromFiles) + "}}";
    return merged;
  }
  if (shape.storeKey.empty()) {  // a new "templates" entry at the end of the object
    std::string entry = std::string(shape.hasFields ? "," : "") + "\"templates\":{" +
                        storeEntries(files, {}, merged.fromFiles) + "}";
    merged.json = std::string(data.substr(0, shape.rootEnd)) + entry + std::string(data.substr(shape.rootEnd));
    return merged;
  }
  if (!shape.storeIsObject) {  // the store's value gives way to the files
    merged.json = std::string(data.substr(0, shape.storeBegin)) + "{" +
                  storeEntries(files, {}, merged.fromFiles) + "}" + std::string(data.substr(shape.storeEnd));
    return merged;
  }
  std::string entries = storeEntries(files, shape.storeNames, merged.fromFiles);
  std::size_t close = shape.storeEnd - 1;  // the store's closing brace
  if (!entries.empty() && !shape.storeNames.empty()) entries.insert(0, ",");
  merged.json = std::string(data.substr(0, close)) + entries + std::string(data.substr(close));
  return merged;
}

}  // namespace mervalt::cli
