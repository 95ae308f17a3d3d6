// include.cpp: the include and render tags: finding the other template in
// the data, binding its arguments, isolating render's scope, and parsing each
// template source once per call.
#include "../renderer.h"

namespace mervalt {
namespace {

constexpr std::string_view kMissingAsset = "Liquid error (line 1): Could not find asset ";

// What a binding replaced in variables_, so that it can be undone.
struct SavedBinding {
  std::string_view name;
  Value old;
  bool had;
};

// The object holding the template sources: a variable wins over the data.
std::optional<Value> templateStore(Renderer& r) {
  for (std::string_view key : {std::string_view("__templates"), std::string_view("templates")}) {
    auto it = r.variables_.find(key);
    if (it != r.variables_.end()) return it->second;
  }
  for (std::string_view key : {std::string_view("__templates"), std::string_view("templates")})
    if (std::optional<Value> v = get(r.data_, key)) return v;
  return std::nullopt;
}

std::optional<std::string_view> findTemplateSource(Renderer& r, std::string_view name) {
  std::optional<Value> store = templateStore(r);
  if (!store || !store->is(Kind::Object)) return std::nullopt;
  const Value* source = store->map().get(name);
  if (!source || !source->is(Kind::String) || source->str().empty()) return std::nullopt;
  return source->str();
}

// One use of the tag, ready to render: the other template found, the
// arguments evaluated in the calling scope.
struct IncludeCall {
  explicit IncludeCall(std::pmr::memory_resource* mr) : bindings(mr) {}
  std::string_view name;
  std::string_view source;
  std::string_view boundName;  // alias of the with/for argument, else the template name
  Value formValue;             // the for collection or the with value
  const Node* with = nullptr;
  const Node* forEach = nullptr;
  // The key-value parameters, then the with/for binding. On the allocator of
  // the renderer's maps, and given back when the tag ends.
  std::pmr::vector<LocalOverride> bindings;
};

// Evaluates the key-value arguments; the last with and the last for argument
// are remembered unevaluated.
void collectArgs(Renderer& r, const Node& node, IncludeCall& call) {
  std::span<const Node> rest = node.children.subspan(1);
  if (rest.empty()) return;
  call.bindings.reserve(rest.size() + 1);
  for (const Node& arg : rest) {
    if (arg.kind != NodeKind::NamedArgument) continue;
    if (arg.text == "with") {
      call.with = &arg;
    } else if (arg.text == "for") {
      call.forEach = &arg;
    } else {
      Value v = arg.children.empty() ? Value() : r.evaluate(arg.children[0]);
      call.bindings.push_back(LocalOverride{arg.text, v});
    }
  }
}

// Finds the template and evaluates the arguments; false (after writing the
// message) when the template is missing. Kept out of line so that its locals
// are off the stack while the other template renders.
[[gnu::noinline]] bool prepareCall(Renderer& r, const Node& node, IncludeCall& call) {
  std::string_view name = r.display(r.evaluate(node.children[0]));
  std::optional<std::string_view> source = findTemplateSource(r, name);
  if (!source) {
    r.output_.append(kMissingAsset);
    r.output_.append(name);
    return false;
  }
  call.name = name;
  call.source = *source;
  collectArgs(r, node, call);
  const Node* form = call.forEach ? call.forEach : call.with;
  if (form && !form->children.empty()) call.formValue = r.evaluate(form->children[0]);
  call.boundName = form && !form->name.empty() ? form->name : name;
  return true;
}

// Installs the bindings into variables_, recording in `saved` what each replaced.
void applyOverrides(Renderer& r, std::span<const LocalOverride> bindings,
                    std::pmr::vector<SavedBinding>& saved) {
  saved.clear();
  for (const LocalOverride& b : bindings) {
    auto it = r.variables_.find(b.name);
    bool had = it != r.variables_.end();
    saved.push_back(SavedBinding{b.name, had ? it->second : Value(), had});
    r.variables_.insert_or_assign(b.name, b.value);
  }
}

void restoreOverrides(Renderer& r, std::span<const SavedBinding> saved) {
  for (std::size_t i = saved.size(); i-- > 0;) {
    if (saved[i].had)
      r.variables_.insert_or_assign(saved[i].name, saved[i].old);
    else
      r.variables_.erase(saved[i].name);
  }
}

Flow renderTemplateSource(Renderer& r, std::string_view source) {
  return r.renderSequence(r.parseCached(source).children);
}

// render sees fresh variables, counters, cycle positions and loop stack;
// the caller's come back when the tag ends, however it ends. The fresh ones
// share the allocators of the originals, which swapping requires.
class IsolatedScope {
 public:
  explicit IsolatedScope(Renderer& r)
      : r_(r),
        variables_(r.variables_.get_allocator()),
        counters_(r.counters_.get_allocator()),
        cyclePositions_(r.cyclePositions_.get_allocator()),
        loopStack_(r.loopStack_.get_allocator()) {
    swapAll();
  }
  ~IsolatedScope() { swapAll(); }
  IsolatedScope(const IsolatedScope&) = delete;
  IsolatedScope& operator=(const IsolatedScope&) = delete;

 private:
  void swapAll() {
    r_.variables_.swap(variables_);
    r_.counters_.swap(counters_);
    r_.cyclePositions_.swap(cyclePositions_);
    r_.loopStack_.swap(loopStack_);
  }

  Renderer& r_;
  NameMap<Value> variables_;
  NameMap<int64_t> counters_;
  NameMap<uint64_t> cyclePositions_;
  std::pmr::vector<LoopRecord> loopStack_;
};

[[gnu::noinline]] Value forEachLoopObject(Renderer& r, std::size_t i, std::size_t n, std::string_view name) {
  auto index0 = static_cast<int64_t>(i), length = static_cast<int64_t>(n);
  ObjectMap* m = r.newMap();
  m->reserve(8);
  m->put("index", Value::integer(index0 + 1));
  m->put("index0", Value::integer(index0));
  m->put("first", Value::boolean(i == 0));
  m->put("last", Value::boolean(i + 1 == n));
  m->put("length", Value::integer(length));
  m->put("rindex", Value::integer(length - index0));
  m->put("rindex0", Value::integer(length - index0 - 1));
  m->put("name", Value::string(name));
  return Value::object(m);
}

// The for form: the template once per element, the element bound through
// variables_ together with the parameters, and a forloop variable.
Flow renderForEach(Renderer& r, IncludeCall& call) {
  const Value& collection = call.formValue;
  if (!collection.is(Kind::Array) || collection.items().empty()) return Flow::Normal;
  std::span<const Value> items = collection.items();
  std::pmr::string& loopName = newText(r.arena_);
  loopName.append(call.boundName);
  loopName.push_back('-');
  loopName.append(r.buildContinueKey(call.forEach->children[0]));

  std::pmr::vector<LocalOverride>& bindings = call.bindings;
  bindings.push_back(LocalOverride{call.boundName, Value()});
  std::pmr::vector<SavedBinding> saved(bindings.get_allocator());
  saved.reserve(bindings.size());
  const Node& root = r.parseCached(call.source);
  for (std::size_t i = 0; i < items.size(); ++i) {
    r.countIteration();
    bindings.back().value = items[i];
    applyOverrides(r, bindings, saved);
    r.variables_.insert_or_assign("forloop", forEachLoopObject(r, i, items.size(), loopName));
    Flow f = r.renderSequence(root.children);
    r.variables_.erase("forloop");
    restoreOverrides(r, saved);
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

// include binds through locals_, which hide every other scope; the names are
// removed again afterwards.
Flow renderWithLocals(Renderer& r, std::span<const LocalOverride> bindings, std::string_view source) {
  for (const LocalOverride& b : bindings) r.locals_.insert_or_assign(b.name, b.value);
  Flow f = renderTemplateSource(r, source);
  for (const LocalOverride& b : bindings) r.locals_.erase(b.name);
  return f;
}

Flow renderWithOverrides(Renderer& r, std::span<const LocalOverride> bindings, std::string_view source) {
  std::pmr::vector<SavedBinding> saved(r.variables_.get_allocator());
  saved.reserve(bindings.size());
  applyOverrides(r, bindings, saved);
  Flow f = renderTemplateSource(r, source);
  restoreOverrides(r, saved);
  return f;
}

// Renders the other template with its bindings installed, in the scope the
// caller has set up.
Flow renderBound(Renderer& r, IncludeCall& call, bool isRender) {
  if (call.forEach) return renderForEach(r, call);
  if (call.with) call.bindings.push_back(LocalOverride{call.boundName, call.formValue});
  return isRender ? renderWithOverrides(r, call.bindings, call.source)
                  : renderWithLocals(r, call.bindings, call.source);
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
  IncludeCall call(locals_.get_allocator().resource());
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

const Node& Renderer::parseCached(std::string_view source) {
  // Most inclusions pass the very same string again: try its address first,
  // which spares hashing the whole source.
  if (auto seen = sourceAddresses_.find(source.data());
      seen != sourceAddresses_.end() && seen->second.first == source.size())
    return *seen->second.second;
  const Node* root;
  if (auto it = templateCache_.find(source); it != templateCache_.end()) {
    root = it->second;
  } else {
    root = &parseTemplate(source, arena_);
    templateCache_.emplace(source, root);
  }
  sourceAddresses_.insert_or_assign(source.data(), std::pair{source.size(), root});
  return *root;
}

}  // namespace mervalt
