// renderer.cpp: node dispatch and the statements that write or set without
// a tag file of their own: outputs, assign, capture, raw text and liquid.
#include "render/renderer.h"

#include "filters/dispatch.h"
#include "render/tags/tags.h"

namespace mervalt {

Renderer::Renderer(Arena& arena, Value data, OutputBuffer& output, NameTable& names, const Limits& limits,
                   const PartialLibrary* library)
    : arena_(arena),
      data_(data),
      output_(output),
      names_(names),
      limits_(limits),
      scope_(arena.resource()),
      locals_(arena.resource()),
      pending_(arena.resource()),
      loops_(arena),
      counters_(arena),
      partials_(arena, names, library) {
  scope_.resize(names_.size());
}

void Renderer::renderRoot(const Tree& tree) {
  memo_ = newMemoTable(arena_, tree.memoCount);
  // A break or continue outside any loop ends the render quietly.
  (void)renderChildrenWithTrim(tree.root->children, false);
}

Flow Renderer::renderPartial(const PartialTree& partial) {
  NodeMemo* outer = memo_;
  memo_ = partial.memo;
  struct Restore {
    Renderer& r;
    NodeMemo* memo;
    ~Restore() { r.memo_ = memo; }
  } restore{*this, outer};
  return renderSequence(partial.tree.root->children);
}

Flow Renderer::renderNode(const Node& node) {
  switch (node.kind) {
    case NodeKind::Root: return renderChildrenWithTrim(node.children, false);
    case NodeKind::Text: output_.append(node.text.content); return Flow::Normal;
    case NodeKind::Output:
    case NodeKind::Echo: renderOutput(node); return Flow::Normal;
    case NodeKind::Assign:
      if (!node.target.name.empty() && !node.children.empty())
        scope_.set(node.target.slot, evaluateFiltered(node.children));
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
      return tags::renderIf(*this, node);
    }
    case NodeKind::Unless: {
      DepthGuard guard(*this);
      return tags::renderUnless(*this, node);
    }
    case NodeKind::Case: {
      DepthGuard guard(*this);
      return tags::renderCase(*this, node);
    }
    case NodeKind::For: {
      DepthGuard guard(*this);
      return tags::renderFor(*this, node);
    }
    case NodeKind::Tablerow: {
      DepthGuard guard(*this);
      return tags::renderTablerow(*this, node);
    }
    case NodeKind::Ifchanged: {
      DepthGuard guard(*this);
      return tags::renderIfchanged(*this, node);
    }
    case NodeKind::Cycle: tags::renderCycle(*this, node); return Flow::Normal;
    case NodeKind::Increment: tags::renderCounter(*this, node, true); return Flow::Normal;
    case NodeKind::Decrement: tags::renderCounter(*this, node, false); return Flow::Normal;
    case NodeKind::Include: {
      DepthGuard guard(*this);
      return tags::renderInclusion(*this, node, false);
    }
    case NodeKind::Render: {
      DepthGuard guard(*this);
      return tags::renderInclusion(*this, node, true);
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
  (void)loops_.takeObjectBuilt();
  if (node.output.lastFilterEmits) {
    // The last filter writes its result straight into the output.
    const Node& last = chain.back();
    Value in = filterInput(evaluateFiltered(chain.first(chain.size() - 1)));
    chargeWork(kFilterCallWork + workOf(in));
    filterEmitter(last.filter.id)(*this, in, last.filterArgs());
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
  if (!loops_.takeObjectBuilt()) arena_.release(mark);
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
  if (node.target.name.empty()) return Flow::Normal;
  DepthGuard guard(*this);
  std::size_t start = output_.size();
  std::size_t savedFloor = captureFloor_;
  captureFloor_ = start;
  Flow f = renderSequence(node.children);
  captureFloor_ = savedFloor;
  if (f == Flow::Normal) scope_.set(node.target.slot, Value::string(arena_.copy(output_.from(start))));
  output_.truncate(start);
  return f;
}

void Renderer::renderRaw(const Node& node) {
  std::string_view text = node.text.content;
  if (node.trimRight)
    while (!text.empty() && isTrimSpace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  if (node.endTrimLeft)
    while (!text.empty() && isTrimSpace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  output_.append(text);
}

uint32_t Renderer::nameSlot(std::string_view name) {
  uint32_t slot = names_.intern(name);
  fitNames();
  return slot;
}

}  // namespace mervalt
