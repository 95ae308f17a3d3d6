// call.cpp: the road of one render from JSON text to detached output.
#include "api/call.h"

#include "data/json_check.h"
#include "data/json_input.h"
#include "parse/parser.h"
#include "render/renderer.h"

namespace mervalt {
namespace {

Value readData(const JsonInput& json, Arena& arena) {
  if (json.text.empty()) return Value::nil();
  bool readable = false;
  Value data = readJsonDocument(json.text, arena, json.padded, &readable);
  if (!readable && json.strict)
    if (std::optional<JsonProblem> problem = findJsonProblem(json.text)) throw DataError(std::move(*problem));
  return data;
}

std::pair<char*, std::size_t> render(const Tree& tree, Value data, NameTable& names,
                                     const PartialLibrary* library, Arena& arena, HeapResource& heap,
                                     const Limits& limits, CallStats* stats) {
  OutputBuffer output(heap, limits);
  output.reserveForNodes(tree.root->children.size());
  Renderer renderer(arena, data, output, names, limits, library);
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

}  // namespace

std::pair<char*, std::size_t> renderCall(std::string_view templateText, const JsonInput& json, HeapResource& heap,
                                         const Limits& limits, CallStats* stats) {
  // Compiled into memory of the call, exactly as a compiled template is
  // compiled into its own: the two ways of rendering hold the same memory.
  Arena treeArena(&heap, compileArenaHint(templateText.size()));
  NameTable& names = *treeArena.make<NameTable>(treeArena.resource());
  Tree tree = parseTemplate(templateText, treeArena, names);
  return renderCompiled(CompiledTree{tree, names, nullptr}, json, heap, limits, stats);
}

std::pair<char*, std::size_t> renderCompiled(const CompiledTree& compiled, const JsonInput& json,
                                             HeapResource& heap, const Limits& limits, CallStats* stats) {
  // The arena holds a padded copy of the JSON text and its values and what
  // rendering makes; sizing its first block from the JSON lets a typical
  // call live in one or two blocks.
  Arena arena(&heap, (json.padded ? 1 : 2) * json.text.size());
  Value data = readData(json, arena);
  NameTable& names = *arena.make<NameTable>(arena.resource(), &compiled.names);
  return render(compiled.tree, data, names, compiled.library, arena, heap, limits, stats);
}

}  // namespace mervalt
