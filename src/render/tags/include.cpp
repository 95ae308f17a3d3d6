// include.cpp: the include and render tags: finding the other template in
// the data (or among the host's named templates), binding its arguments,
// isolating render's scope.
#include "parse/parser.h"
#include "render/tags/tags.h"

namespace mervalt::tags {
namespace {

constexpr std::string_view kMissingAsset = "Liquid error (line 1): Could not find asset ";

// The object holding the template sources: a variable wins over the data.
std::optional<Value> templateStore(Renderer& r) {
  for (uint32_t slot : {NameTable::kHiddenTemplates, NameTable::kTemplates})
    if (const Value* v = r.variables().find(slot)) return *v;
  return r.partials().dataStore(r.data());
}

// One use of the tag, ready to render: the other template found, the
// arguments evaluated in the calling scope. The bindings sit on the
// renderer's shared stack from `base` on (key-value parameters, then the
// with/for binding) and are taken off when the tag ends.
struct IncludeCall {
  const Node* tag = nullptr;
  std::string_view name;
  std::string_view source;                // the text from the template store, parsed when first rendered
  const PartialTree* partial = nullptr;   // the parsed template, once known
  std::size_t base = 0;
  uint32_t boundSlot = 0;  // the alias of the with/for argument, else the template name
  std::string_view boundName;
  Value formValue;  // the for collection or the with value
  const Node* with = nullptr;
  const Node* forEach = nullptr;
};

// Bindings of one tag, taken off the shared stack however the tag ends.
class BindingsOnStack {
 public:
  BindingsOnStack(Renderer& r, IncludeCall& call) : stack_(r.pendingBindings()), base_(stack_.height()) {
    call.base = base_;
  }
  ~BindingsOnStack() { stack_.cutTo(base_); }
  BindingsOnStack(const BindingsOnStack&) = delete;
  BindingsOnStack& operator=(const BindingsOnStack&) = delete;

 private:
  BindingStack& stack_;
  std::size_t base_;
};

std::span<PendingBinding> bindingsOf(Renderer& r, const IncludeCall& call) {
  return r.pendingBindings().from(call.base);
}

// The other template's text in the template store, when it has one.
std::optional<std::string_view> storedSource(Renderer& r, const Node& node, std::string_view name) {
  std::optional<Value> store = templateStore(r);
  if (!store || !store->is(Kind::Object)) return std::nullopt;
  const Value* source = store->map().get(name, r.memo(node.inclusion.memo).lookup);
  if (!source || !source->is(Kind::String) || source->str().empty()) return std::nullopt;
  return source->str();
}

// A source text and the partial parsed from it.
struct SeenSource {
  const char* text;
  std::size_t size;
  const PartialTree* partial;
};

void remember(Renderer& r, SeenSource*& last, std::string_view source, const PartialTree* partial) {
  if (!last) last = r.scratch().make<SeenSource>();
  *last = SeenSource{source.data(), source.size(), partial};
}

// The other template's tree, parsed once per render. A source seen before
// is found by its address; a new one is charged for and parsed. A template
// that does not parse fails the render, naming the innermost one.
const PartialTree& partialOf(Renderer& r, const Node& tag, IncludeCall& call) {
  if (call.partial) return *call.partial;
  // The tag names the same source again and again: its memo remembers the
  // last one, which spares even the lookup by address.
  auto*& last = reinterpret_cast<SeenSource*&>(r.memo(tag.inclusion.memo).state);
  if (last && last->text == call.source.data() && last->size == call.source.size()) return *(call.partial = last->partial);
  if (const PartialTree* seen = r.partials().seen(call.source)) {
    remember(r, last, call.source, seen);
    return *(call.partial = seen);
  }
  r.chargeWork(call.source.size() / kBytesPerWorkUnit);  // hashed, and parsed the first time
  try {
    call.partial = &r.partials().parse(call.source);
  } catch (ParseError& e) {
    if (e.partial.empty()) e.partial = call.name;
    throw;
  }
  r.fitNames();
  remember(r, last, call.source, call.partial);
  return *call.partial;
}

// Evaluates the key-value arguments; the last with and the last for argument
// are remembered unevaluated.
void collectArgs(Renderer& r, const Node& node, IncludeCall& call) {
  for (const Node& arg : node.children.subspan(1)) {
    if (arg.kind != NodeKind::NamedArgument) continue;
    if (arg.argument.key == "with") {
      call.with = &arg;
    } else if (arg.argument.key == "for") {
      call.forEach = &arg;
    } else {
      Value v = arg.children.empty() ? Value() : r.evaluate(arg.children[0]);
      r.pendingBindings().push(PendingBinding{arg.argument.slot, v, {}});
    }
  }
}

// Finds the template and evaluates the arguments; false (after writing the
// message) when the template is missing: neither the template store nor
// the host's named templates have it. Kept out of line so that its locals
// are off the stack while the other template renders.
[[gnu::noinline]] bool prepareCall(Renderer& r, const Node& node, IncludeCall& call) {
  std::string_view name = r.display(r.evaluate(node.children[0]));
  if (std::optional<std::string_view> source = storedSource(r, node, name)) {
    call.source = *source;
  } else if (!(call.partial = r.partials().named(name))) {
    r.output().append(kMissingAsset);
    r.output().append(name);
    return false;
  }
  call.tag = &node;
  call.name = name;
  collectArgs(r, node, call);
  const Node* form = call.forEach ? call.forEach : call.with;
  if (form && !form->children.empty()) call.formValue = r.evaluate(form->children[0]);
  if (form && !form->argument.alias.empty()) {
    call.boundName = form->argument.alias;
    call.boundSlot = form->argument.slot;
  } else {
    call.boundName = name;
    call.boundSlot = node.children[0].kind == NodeKind::String ? node.inclusion.nameSlot : r.nameSlot(name);
  }
  return true;
}

// Installs the bindings as variables, remembering what each place held.
void applyOverrides(Renderer& r, std::span<PendingBinding> bindings) {
  for (PendingBinding& b : bindings) {
    b.saved = r.variables().save(b.slot);
    r.variables().set(b.slot, b.value);
  }
}

void restoreOverrides(Renderer& r, std::span<const PendingBinding> bindings) {
  for (std::size_t i = bindings.size(); i-- > 0;) r.variables().restore(bindings[i].slot, bindings[i].saved);
}

[[gnu::noinline]] Value forEachLoopObject(Renderer& r, std::size_t i, std::size_t n, std::string_view name) {
  auto index0 = static_cast<int64_t>(i), length = static_cast<int64_t>(n);
  const Value values[] = {Value::integer(index0 + 1),        Value::integer(index0),
                          Value::boolean(i == 0),            Value::boolean(i + 1 == n),
                          Value::integer(length),            Value::integer(length - index0),
                          Value::integer(length - index0 - 1), Value::string(name)};
  return Value::object(ObjectMap::make(r.scratch(), kForloopShape, values));
}

// The for form: the template once per element, the element bound as a
// variable together with the parameters, and a forloop variable.
Flow renderForEach(Renderer& r, IncludeCall& call) {
  const Value& collection = call.formValue;
  if (!collection.is(Kind::Array) || collection.items().empty()) return Flow::Normal;
  std::span<const Value> items = collection.items();
  std::pmr::string& loopName = newText(r.scratch());
  loopName.append(call.boundName);
  loopName.push_back('-');
  loopName.append(continueKey(r, call.forEach->children[0]));

  r.pendingBindings().push(PendingBinding{call.boundSlot, Value(), {}});
  const PartialTree& partial = partialOf(r, *call.tag, call);
  for (std::size_t i = 0; i < items.size(); ++i) {
    r.countIteration();
    std::span<PendingBinding> bindings = bindingsOf(r, call);
    bindings.back().value = items[i];
    applyOverrides(r, bindings);
    r.variables().set(NameTable::kForloop, forEachLoopObject(r, i, items.size(), loopName));
    Flow f = r.renderPartial(partial);
    // forloop is removed, not put back: a forloop the caller assigned is gone too.
    r.variables().erase(NameTable::kForloop);
    restoreOverrides(r, bindingsOf(r, call));
    if (f != Flow::Normal) return f;
  }
  return Flow::Normal;
}

// include binds through the locals, which hide every other scope; the names
// are removed again afterwards.
Flow renderWithLocals(Renderer& r, IncludeCall& call) {
  const PartialTree& partial = partialOf(r, *call.tag, call);
  for (const PendingBinding& b : bindingsOf(r, call)) r.locals().bind(b.slot, b.value);
  Flow f = r.renderPartial(partial);
  for (const PendingBinding& b : bindingsOf(r, call)) r.locals().unbind(b.slot);
  return f;
}

Flow renderWithOverrides(Renderer& r, IncludeCall& call) {
  const PartialTree& partial = partialOf(r, *call.tag, call);
  for (const PendingBinding& b : bindingsOf(r, call)) r.variables().set(b.slot, b.value);
  return r.renderPartial(partial);
}

// Renders the other template with its bindings installed, in the scope the
// caller has set up.
Flow renderBound(Renderer& r, IncludeCall& call, bool isRender) {
  if (call.forEach) return renderForEach(r, call);
  if (call.with) r.pendingBindings().push(PendingBinding{call.boundSlot, call.formValue, {}});
  return isRender ? renderWithOverrides(r, call) : renderWithLocals(r, call);
}

// render sees no variables of its caller, no running loops, and counters
// and cycle positions of its own; the caller's come back when the tag ends,
// however it ends. Kept out of line so that the set-aside state takes stack
// space only on the render path.
[[gnu::noinline]] Flow renderIsolated(Renderer& r, IncludeCall& call) {
  Scope::Isolated frame(r.variables());
  Counters::Isolated counters(r.counters());
  Loops::Hidden loops(r.loops());
  return renderBound(r, call, true);
}

}  // namespace

Flow renderInclusion(Renderer& r, const Node& node, bool isRender) {
  if (node.children.empty()) return Flow::Normal;
  r.countIteration();  // every inclusion is work, so self-inclusion cannot explode
  IncludeCall call;
  BindingsOnStack bindings(r, call);
  if (!prepareCall(r, node, call)) return Flow::Normal;
  return isRender ? renderIsolated(r, call) : renderBound(r, call, false);
}

}  // namespace mervalt::tags
