// partial_catalog.h: the other templates a check may follow into, by name:
// texts from the data's template store or from files, parsed when first
// reached, and trees an engine parsed before. The first entry of a name wins,
// so the data's store goes in before files or an engine's partials, as it
// wins when rendering.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/value.h"
#include "memory/arena.h"
#include "parse/names.h"
#include "parse/node.h"
#include "parse/parser.h"

namespace mervalt::check {

struct PartialEntry {
  std::string name;
  std::string file;        // the file it was read from; "" in the data or an engine
  std::string_view text;   // the text to parse; unused when `tree` was given
  const Tree* tree = nullptr;
  std::optional<ParseError> error;  // the text does not parse
  bool parsed = false;
};

class PartialCatalog {
 public:
  PartialCatalog();

  // A partial's text; `text` must outlive the catalog.
  void addText(std::string_view name, std::string_view text, std::string_view file = {});
  // A partial parsed before; `tree` must outlive the catalog.
  void addTree(std::string_view name, const Tree* tree);
  // The template store of `data` ("__templates", else "templates"): every
  // entry holding a text. A store, even an empty one, makes the catalog known.
  void addDataStore(const Value& data);
  // Whether partials were given at all: only then can a name be missing.
  bool known() const { return known_; }
  void markKnown() { known_ = true; }

  PartialEntry* find(std::string_view name);
  // The entry's tree, parsing its text the first time; null when it does not parse.
  const Tree* treeOf(PartialEntry& entry);
  std::vector<std::string_view> names() const;

 private:
  HeapResource heap_;
  Arena arena_;
  NameTable names_;
  std::map<std::string, PartialEntry, std::less<>> entries_;
  bool known_ = false;
};

}  // namespace mervalt::check
