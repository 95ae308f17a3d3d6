// call.cpp: the road of one call from JSON text to detached output.
#include "api/call.h"

#include "data/json_input.h"
#include "parse/parser.h"
#include "api/call.h"
#include "render/renderer.h"

namespace mervalt {

std::pair<char*, std::size_t> renderCall(std::string_view templateText, std::string_view json,
                                         HeapResource& heap, const Limits& limits, bool jsonPadded,
                                         CallStats* stats) {
  // The arena holds a padded copy of the JSON text and its values, the syntax
  // tree and what rendering makes; sizing its first block from the inputs
  // lets a typical call live in one or two blocks.
  Arena arena(&heap, (jsonPadded ? 1 : 2) * json.size() + 8 * templateText.size());
  Value data = json.empty() ? Value::nil() : readJsonDocument(json, arena, jsonPadded);
  NameTable& names = *arena.make<NameTable>(arena.resource());
  Tree tree = parseTemplate(templateText, arena, names);
  OutputBuffer output(heap, limits);
  output.reserveForNodes(tree.root->children.size());
  Renderer renderer(arena, data, output, names, limits);
  auto report = [&] {
    if (stats) *stats = CallStats{renderer.workDone(), renderer.iterationsDone()};
  };
  try {
    renderer.renderRoot(tree);
  } catch (...) {
    report();
    throw;
  }
  report();
  return output.detach();
}

}  // namespace mervalt
