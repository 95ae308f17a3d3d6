// include.cpp: the include and render tags: finding the other template in
// the data, binding its arguments, isolating render's scope, and parsing each
// template source once per call.
#include "render/renderer.h"

namespace mervalt {
namespace {

constexpr std::string_view kMissingAsset = "Liquid error (line 1): Could not find asset ";

// The object holding the template sources: a variable wins over the data.
std::optional<Value> templateStore(Renderer& r) {
  for (uint32_t slot : {NameTable::kHiddenTemplates, NameTable::kTemplates})
    if (const Value* v = r.scope_.find(slot)) return *v;
  if (!r.dataTemplateStore_) {
    std::optional<Value> v = get(r.data_, "__templates");
    r.dataTemplateStore_ = v ? v : get(r.data_, "templates");
  }
  return *r.dataTemplateStore_;
}

std::optional<std::string_view> findTemplateSource(Renderer& r, const Node& node, std::string_view name) {
  std::optional<Value> store = templateStore(r);
  if (!store || !store->is(Kind::Object)) return std::nullopt;
  const Value* source = store->map().get(name, node.cache);
  if (!source || !source->is(Kind::String) || source->str().empty()) return std::nullopt;
  return source->str();
}

// One use of the tag, ready to render: the other template found, the
// arguments evaluated in the calling scope. The bindings sit on the
// renderer's shared stack from `base` on (key-value parameters, then the
// with/for binding) and are taken off when the tag ends.
struct IncludeCall {
  const Node* tag = nullptr;
  std::string_view name;
  std::string_view source;
  std::string_view boundName;  // alias of the with/for argument, else the template name
  uint32_t boundSlot = 0;
  Value formValue;  // the for collection or the with value
  const Node* with = nullptr;
  const Node* forEach = nullptr;
  std::size_t base = 0;
};

// Bindings of one tag, taken off the renderer's stack however the tag ends.
class BindingsOnStack {
 public:
  BindingsOnStack(Renderer& r, IncludeCall& call) : r_(r), base_(r.boundArgs_.size()) { call.base = base_; }
  ~BindingsOnStack() { r_.boundArgs_.resize(base_); }
  BindingsOnStack(const BindingsOnStack&) = delete;
  BindingsOnStack& operator=(const BindingsOnStack&) = delete;

 private:
  Renderer& r_;
  std::size_t base_;
};

std::span<BoundArg> bindingsOf(Renderer& r, const IncludeCall& call) {
  return std::span<BoundArg>(r.boundArgs_).subspan(call.base);
}

// Evaluates the key-value arguments; the last with and the last for argument
// are remembered unevaluated.
void collectArgs(Renderer& r, const Node& node, IncludeCall& call) {
  for (const Node& arg : node.children.subspan(1)) {
    if (arg.kind != NodeKind::NamedArgument) continue;
    if (arg.text == "with") {
      call.with = &arg;
    } else if (arg.text == "for") {
      call.forEach = &arg;
    } else {
      Value v = arg.children.empty() ? Value() : r.evaluate(arg.children[0]);
      r.boundArgs_.push_back(BoundArg{arg.slot, v, {}});
    }
  }
}

// Finds the template and evaluates the arguments; false (after writing the
// message) when the template is missing. Kept out of line so that its locals
// are off the stack while the other template renders.
[[gnu::noinline]] bool prepareCall(Renderer& r, const Node& node, IncludeCall& call) {
  std::string_view name = r.display(r.evaluate(node.children[0]));
  std::optional<std::string_view> source = findTemplateSource(r, node, name);
  if (!source) {
    r.output_.append(kMissingAsset);
    r.output_.append(name);
    return false;
  }
  call.tag = &node;
  call.name = name;
  call.source = *source;
  collectArgs(r, node, call);
  const Node* form = call.forEach ? call.forEach : call.with;
  if (form && !form->children.empty()) call.formValue = r.evaluate(form->children[0]);
  if (form && !form->name.empty()) {
    call.boundName = form->name;
    call.boundSlot = form->slot;
  } else {
    call.boundName = name;
    call.boundSlot = node.children[0].kind == NodeKind::String ? node.slot : r.nameSlot(name);
  }
  return true;
}

// Installs the bindings as variables, remembering what each place held.
void applyOverrides(Renderer& r, std::span<BoundArg> bindings) {
  for (BoundArg& b : bindings) {
    b.saved = r.scope_.save(b.slot);
    r.scope_.set(b.slot, b.value);
  }
}

void restoreOverrides(Renderer& r, std::span<const BoundArg> bindings) {
  for (std::size_t i = bindings.size(); i-- > 0;) r.scope_.restore(bindings[i].slot, bindings[i].saved);
}

// The tree of the other template; the tag keeps the last one it rendered,
// since it names the same source again and again.
struct PartialMemo {
  const char* source;
  std::size_t size;
  const Node* root;
};

const Node& partialTree(Renderer& r, const Node& tag, std::string_view source) {
  auto* memo = static_cast<const PartialMemo*>(tag.memo);
  if (memo && memo->source == source.data() && memo->size == source.size()) return *memo->root;
  const Node& root = r.parseCached(source);
  tag.memo = r.arena_.make<PartialMemo>(PartialMemo{source.data(), source.size(), &root});
  return root;
}

// render sees no variables of its caller, no running loops, and counters
// and cycle positions of its own; the caller's come back when the tag ends,
// however it ends.
class IsolatedScope {
 public:
  explicit IsolatedScope(Renderer& r)
      : r_(r), frame_(r.scope_), counters_(r.counters_), cyclePositions_(r.cyclePositions_), loopBase_(r.loopBase_) {
    r.counters_ = nullptr;
    r.cyclePositions_ = nullptr;
    r.loopBase_ = r.loopStack_.size();
  }
  ~IsolatedScope() {
    r_.counters_ = counters_;
    r_.cyclePositions_ = cyclePositions_;
    r_.loopBase_ = loopBase_;
  }
  IsolatedScope(const IsolatedScope&) = delete;
  IsolatedScope& operator=(const IsolatedScope&) = delete;

 private:
  Renderer& r_;
  Scope::Isolated frame_;
  NameMap<int64_t>* counters_;
  NameMap<uint64_t>* cyclePositions_;
  std::size_t loopBase_;
};

[[gnu::noinline]] Value forEachLoopObject(Renderer& r, std::size_t i, std::size_t n, std::string_view name) {
  auto index0 = static_cast<int64_t>(i), length = static_cast<int64_t>(n);
  const Value values[] = {Value::integer(index0 + 1),        Value::integer(index0),
                          Value::boolean(i == 0),            Value::boolean(i + 1 == n),
                          Value::integer(length),            Value::integer(length - index0),
                          Value::integer(length - index0 - 1), Value::string(name)};
  return Value::object(ObjectMap::make(r.arena_, kForloopShape, values));
}

// The for form: the template once per element, the element bound as a
// variable together with the parameters, and a forloop variable.
Flow renderForEach(Renderer& r, IncludeCall& call) {
  const Value& collection = call.formValue;
  if (!collection.is(Kind::Array) || collection.items().empty()) return Flow::Normal;
  std::span<const Value> items = collection.items();
  std::pmr::string& loopName = newText(r.arena_);
  loopName.append(call.boundName);
  loopName.push_back('-');
  loopName.append(r.buildContinueKey(call.forEach->children[0]));

  r.boundArgs_.push_back(BoundArg{call.boundSlot, Value(), {}});
  const Node& root = partialTree(r, *call.tag, call.source);
  for (std::size_t i = 0; i < items.size(); ++i) {
    r.countIteration();
    std::span<BoundArg> bindings = bindingsOf(r, call);
    bindings.back().value = items[i];
    applyOverrides(r, bindings);
    r.scope_.set(NameTable::kForloop, forEachLoopObject(r, i, items.size(), loopName));
    Flow f = r.renderSequence(root.children);
    // forloop is removed, not put back: a forloop the caller assigned is gone too.
    r.scope_.erase(NameTable::kForloop);
    restoreOverrides(r, bindingsOf(r, call));
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

// include binds through locals_, which hide every other scope; the names are
// removed again afterwards.
Flow renderWithLocals(Renderer& r, const IncludeCall& call) {
  std::size_t n = r.boundArgs_.size() - call.base;
  for (std::size_t i = 0; i < n; ++i) r.bindLocal(r.boundArgs_[call.base + i].slot, r.boundArgs_[call.base + i].value);
  Flow f = r.renderSequence(partialTree(r, *call.tag, call.source).children);
  for (std::size_t i = 0; i < n; ++i) r.unbindLocal(r.boundArgs_[call.base + i].slot);
  return f;
}

Flow renderWithOverrides(Renderer& r, const IncludeCall& call) {
  for (const BoundArg& b : bindingsOf(r, call)) r.scope_.set(b.slot, b.value);
  return r.renderSequence(partialTree(r, *call.tag, call.source).children);
}

// Renders the other template with its bindings installed, in the scope the
// caller has set up.
Flow renderBound(Renderer& r, IncludeCall& call, bool isRender) {
  if (call.forEach) return renderForEach(r, call);
  if (call.with) r.boundArgs_.push_back(BoundArg{call.boundSlot, call.formValue, {}});
  return isRender ? renderWithOverrides(r, call) : renderWithLocals(r, call);
}

// Kept out of line so that the set-aside containers take stack space only on
// the render path.
[[gnu::noinline]] Flow renderIsolated(Renderer& r, IncludeCall& call) {
  IsolatedScope scope(r);
  return renderBound(r, call, true);
}

}  // namespace

Flow Renderer::renderIncludeOrRender(const Node& node, bool isRender) {
  if (node.children.empty()) return Flow::Normal;
  countIteration();  // every inclusion is work, so self-inclusion cannot explode
  IncludeCall call;
  BindingsOnStack bindings(*this, call);
  if (!prepareCall(*this, node, call)) return Flow::Normal;
  try {
    return isRender ? renderIsolated(*this, call) : renderBound(*this, call, false);
  } catch (ParseError& e) {
    // Only the other templates are parsed while rendering (parseCached): the
    // innermost one that failed is named.
    if (e.partial.empty()) e.partial = call.name;
    throw;
  }
}

uint32_t Renderer::nameSlot(std::string_view name) {
  uint32_t slot = names_.intern(name);
  scope_.resize(names_.size());
  return slot;
}

void Renderer::bindLocal(uint32_t slot, const Value& v) {
  for (LocalOverride& l : locals_) {
    if (l.slot == slot) {
      l.value = v;
      return;
    }
  }
  locals_.push_back(LocalOverride{slot, v});
}

void Renderer::unbindLocal(uint32_t slot) {
  for (std::size_t i = locals_.size(); i-- > 0;) {
    if (locals_[i].slot == slot) {
      locals_.erase(locals_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

const Node& Renderer::parseCached(std::string_view source) {
  // Most inclusions pass the very same string again: try its address first,
  // which spares hashing the whole source.
  if (auto seen = sourceAddresses_.find(source.data());
      seen != sourceAddresses_.end() && seen->second.first == source.size())
    return *seen->second.second;
  chargeWork(source.size() / kBytesPerWorkUnit);  // hashed, and parsed the first time
  const Node* root;
  if (auto it = templateCache_.find(source); it != templateCache_.end()) {
    root = it->second;
  } else {
    root = &parseTemplate(source, arena_, names_);
    scope_.resize(names_.size());
    templateCache_.emplace(source, root);
  }
  sourceAddresses_.insert_or_assign(source.data(), std::pair{source.size(), root});
  return *root;
}

}  // namespace mervalt
