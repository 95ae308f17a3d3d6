// compiled_template.cpp: compiling a template and rendering it.
#include "engine/compiled_template.h"

#include "parse/parser.h"

namespace mervalt {

CompiledTemplate::CompiledTemplate(std::string_view source, const EngineSettings& settings,
                                   std::shared_ptr<const PartialSet> partials)
    : source_(source),
      settings_(settings),
      partials_(std::move(partials)),
      arena_(&heap_, compileArenaHint(source.size())),
      names_(arena_.resource(), &partials_->names()),
      tree_(parseTemplate(source_, arena_, names_)) {}

std::pair<char*, std::size_t> CompiledTemplate::render(std::string_view json, bool padded, CallStats* stats) const {
  // The template's partials are part of its input: the bounds that follow
  // the input's size count them.
  Limits limits = limitsFor(source_.size() + partials_->sourceBytes(), json.size(), settings_.limits);
  HeapResource heap(limits);
  // The tree is charged to every render of it, as a render of the text
  // alone is charged for parsing it: both ways hold the same memory.
  heap.charge(heap_.used());
  CompiledTree compiled{tree_, names_, partials_->size() != 0 ? partials_.get() : nullptr};
  return renderCompiled(compiled, JsonInput{json, padded, settings_.strictData}, heap, limits, stats);
}

}  // namespace mervalt
