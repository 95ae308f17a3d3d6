// renderer.cpp: the render driver: node dispatch, the simple statement tags
// and the whole road of one call from JSON text to detached output.
#include "render/renderer.h"

#include "data/json_input.h"

namespace mervalt {

Renderer::Renderer(Arena& arena, Value data, OutputBuffer& output, NameTable& names, const Limits& limits)
    : arena_(arena),
      data_(data),
      output_(output),
      names_(names),
      limits_(limits),
      scope_(arena.resource()),
      locals_(arena.resource()),
      boundArgs_(arena.resource()),
      continueOffsets_(arena.resource()),
      loopStack_(arena.resource()),
      tablerowStack_(arena.resource()),
      templateCache_(arena.resource()),
      sourceAddresses_(arena.resource()) {
  scope_.resize(names_.size());
}

Renderer::Renderer(Arena& arena, Value data, OutputBuffer& output, const Limits& limits)
    : Renderer(arena, data, output, *arena.make<NameTable>(arena.resource()), limits) {}

void Renderer::renderRoot(const Node& root) {
  // A break or continue outside any loop ends the render quietly.
  (void)renderChildrenWithTrim(root.children, false);
}

Flow Renderer::renderNode(const Node& node) {
  switch (node.kind) {
    case NodeKind::Root: return renderChildrenWithTrim(node.children, false);
    case NodeKind::Text: output_.append(node.text); return Flow::Normal;
    case NodeKind::Output:
    case NodeKind::Echo: renderOutput(node); return Flow::Normal;
    case NodeKind::Assign:
      if (!node.text.empty() && !node.children.empty()) scope_.set(node.slot, evaluateFiltered(node.children));
      return Flow::Normal;
    case NodeKind::Capture: return renderCapture(node);
    case NodeKind::Raw: renderRaw(node); return Flow::Normal;
    case NodeKind::Liquid: {
      DepthGuard guard(*this);
      return renderSequence(node.children);
    }
    case NodeKind::Break: return Flow::Break;
    case NodeKind::Continue: return Flow::Continue;
    case NodeKind::If: {
      DepthGuard guard(*this);
      return renderIf(node);
    }
    case NodeKind::Unless: {
      DepthGuard guard(*this);
      return renderUnless(node);
    }
    case NodeKind::Case: {
      DepthGuard guard(*this);
      return renderCase(node);
    }
    case NodeKind::For: {
      DepthGuard guard(*this);
      return renderFor(node);
    }
    case NodeKind::Tablerow: {
      DepthGuard guard(*this);
      return renderTablerow(node);
    }
    case NodeKind::Ifchanged: {
      DepthGuard guard(*this);
      return renderIfchanged(node);
    }
    case NodeKind::Cycle: renderCycle(node); return Flow::Normal;
    case NodeKind::Increment: renderIncrement(node, true); return Flow::Normal;
    case NodeKind::Decrement: renderIncrement(node, false); return Flow::Normal;
    case NodeKind::Include: {
      DepthGuard guard(*this);
      return renderIncludeOrRender(node, false);
    }
    case NodeKind::Render: {
      DepthGuard guard(*this);
      return renderIncludeOrRender(node, true);
    }
    case NodeKind::Variable:
    case NodeKind::String:
    case NodeKind::Integer:
    case NodeKind::Float:
    case NodeKind::Boolean:
    case NodeKind::Nil:
    case NodeKind::Empty:
    case NodeKind::Blank:
    case NodeKind::Range:
    case NodeKind::Filter:
    case NodeKind::Property:
    case NodeKind::Index:
    case NodeKind::Elsif:
    case NodeKind::Else:
    case NodeKind::When:
    case NodeKind::Comment:
    case NodeKind::InlineComment:
    case NodeKind::Doc:
    case NodeKind::NamedArgument:
    case NodeKind::Comparison:
    case NodeKind::Logical:
    case NodeKind::Unused42:
    case NodeKind::FilteredExpression: return Flow::Normal;
  }
  // Not reached: the switch names every value, but GCC wants a return here.
  return Flow::Normal;
}

// What the expression makes on its way to the output (filter results,
// texts, expanded ranges) is dead once written: its scratch memory is
// released, unless a loop object was built and kept for later reads. So a
// loop of outputs runs in memory that does not grow with its iterations.
void Renderer::renderOutput(const Node& node) {
  std::span<const Node> chain = node.children;
  if (chain.empty()) return;
  Arena::Mark mark = arena_.mark();
  keptObject_ = false;
  if (node.emit) {
    // The last filter writes its result straight into the output.
    const Node& last = chain.back();
    Value in = filterInput(evaluateFiltered(chain.first(chain.size() - 1)));
    chargeWork(kFilterCallWork + workOf(in));
    node.emit(*this, in, last.args);
  } else {
    Value v = evaluateFiltered(chain);
    if (v.is(Kind::String)) {
      // A copy, bounded by the output limit rather than by the work.
      output_.append(v.str());
    } else {
      chargeWork(workOf(v));
      appendDisplay(output_, v);
    }
  }
  if (!keptObject_) arena_.release(mark);
}

Flow Renderer::renderSequence(std::span<const Node> nodes) {
  chargeWork(nodes.size());
  for (const Node& n : nodes) {
    Flow f = renderNode(n);
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

// The body renders into the same buffer; what it wrote is cut out afterwards.
// Trimming inside never reaches below the capture's start.
Flow Renderer::renderCapture(const Node& node) {
  if (node.text.empty()) return Flow::Normal;
  DepthGuard guard(*this);
  std::size_t start = output_.size();
  std::size_t savedFloor = captureFloor_;
  captureFloor_ = start;
  Flow f = renderSequence(node.children);
  captureFloor_ = savedFloor;
  if (f == Flow::Normal) scope_.set(node.slot, Value::string(arena_.copy(output_.from(start))));
  output_.truncate(start);
  return f;
}

void Renderer::renderRaw(const Node& node) {
  std::string_view text = node.text;
  if (node.trimRight)
    while (!text.empty() && isTrimSpace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  if (node.endTrimLeft)
    while (!text.empty() && isTrimSpace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  output_.append(text);
}

std::pair<char*, std::size_t> renderCall(std::string_view templateText, std::string_view json,
                                         HeapResource& heap, const Limits& limits, bool jsonPadded,
                                         CallStats* stats) {
  // The arena holds a padded copy of the JSON text and its values, the syntax
  // tree and what rendering makes; sizing its first block from the inputs
  // lets a typical call live in one or two blocks.
  Arena arena(&heap, (jsonPadded ? 1 : 2) * json.size() + 8 * templateText.size());
  Value data = json.empty() ? Value::nil() : readJsonDocument(json, arena, jsonPadded);
  NameTable& names = *arena.make<NameTable>(arena.resource());
  const Node& root = parseTemplate(templateText, arena, names);
  OutputBuffer output(heap, limits);
  output.reserveForNodes(root.children.size());
  Renderer renderer(arena, data, output, names, limits);
  auto report = [&] {
    if (stats) *stats = CallStats{renderer.workDone(), renderer.iterationsDone()};
  };
  try {
    renderer.renderRoot(root);
  } catch (...) {
    report();
    throw;
  }
  report();
  return output.detach();
}

}  // namespace mervalt
