// template_walk.cpp: the walk of a template and the partials it reaches,
// in text order, recording reads, binds, loops and unknowable includes.
#include "check/template_walk.h"

#include <algorithm>
#include <optional>

namespace mervalt::check {
namespace {

// Partials inside partials: deep enough for real pages, shallow enough for
// a small thread stack (each level may hold a template's worth of nesting).
constexpr std::size_t kMaxPartialDepth = 8;
// Nodes walked in all: a partial included from many places is walked at
// each, which a template could multiply; past this, inclusions are not followed.
constexpr uint32_t kMaxVisits = 1'000'000;

bool isStoreName(std::string_view name) { return name == "templates" || name == "__templates"; }

// Whether the template binds a variable named like the template store, which
// then decides where include and render find their templates.
bool bindsStore(const Node& n) {
  switch (n.kind) {
    case NodeKind::Assign:
    case NodeKind::Capture:
      if (isStoreName(n.target.name)) return true;
      break;
    case NodeKind::For:
    case NodeKind::Tablerow:
      if (isStoreName(n.loop.variable)) return true;
      break;
    case NodeKind::NamedArgument:
      if (isStoreName(n.argument.key) || isStoreName(n.argument.alias)) return true;
      break;
    default: break;
  }
  return std::any_of(n.children.begin(), n.children.end(), bindsStore);
}

// A data path, and whether it stopped at a key only known when rendering.
struct PathText {
  std::string text;
  bool cut = false;
};

class Walker {
 public:
  Walker(PartialCatalog& catalog, WalkRecord& out) : catalog_(catalog), out_(out) {}

  void run(const Tree& tree) {
    out_.dynamicFrames.push_back(false);
    storeBound_ = bindsStore(*tree.root);
    walkBody(tree.root->children);
  }

 private:
  enum class Inclusion { Follow, Missing, Unknown };

  uint32_t tick() { return clock_++; }
  Place place(SourcePosition at) const { return {source_, at}; }

  void walkBody(std::span<const Node> nodes) {
    for (const Node& n : nodes) isExpressionKind(n.kind) ? walkExpression(n) : walkNode(n);
  }
  void walkNode(const Node& n);
  void walkExpression(const Node& n);
  void walkPath(const Node& n);
  void walkLoop(const Node& n, std::string_view loopObject);
  void walkInclusion(const Node& n, bool isRender);
  void followPartial(const Node& n, PartialEntry& entry, const Tree& tree, bool isRender);
  Inclusion resolve(const Node& n, PartialEntry*& entry, const Tree*& tree);

  std::optional<PathText> pathOf(const Node& n) const;
  std::optional<std::string> aliasOf(const Node& n, std::string_view suffix = {}) const;
  const Bind* activeBind(std::string_view name) const;

  uint32_t bind(BindKind kind, std::string_view name, SourcePosition at, std::optional<std::string> alias = {});
  void endScope(uint32_t bindIndex) { out_.binds[bindIndex].until = clock_; }
  void read(std::string_view name, SourcePosition at, bool reported);
  uint32_t openLoop();
  void closeLoop(uint32_t loop);
  uint32_t sourceOf(PartialEntry* entry);

  PartialCatalog& catalog_;
  WalkRecord& out_;
  uint32_t clock_ = 0;
  uint32_t frame_ = 0;
  uint32_t source_ = 0;
  uint32_t loop_ = kNone;
  uint32_t visits_ = 0;
  bool storeBound_ = false;
  std::vector<const PartialEntry*> stack_;  // the partials being walked
};

void Walker::walkNode(const Node& n) {
  ++visits_;
  switch (n.kind) {
    case NodeKind::Output:
    case NodeKind::Echo:
    case NodeKind::Root:
    case NodeKind::If:
    case NodeKind::Unless:
    case NodeKind::Elsif:
    case NodeKind::Else:
    case NodeKind::Case:
    case NodeKind::When:
    case NodeKind::Liquid:
    case NodeKind::Ifchanged: return walkBody(n.children);
    case NodeKind::Assign: {
      walkBody(n.children);
      std::optional<std::string> alias = n.children.size() == 1 ? aliasOf(n.children[0]) : std::nullopt;
      bind(BindKind::Assign, n.target.name, n.at, alias);
      return;
    }
    case NodeKind::Capture:
      walkBody(n.children);
      bind(BindKind::Capture, n.target.name, n.at);
      return;
    case NodeKind::For: return walkLoop(n, "forloop");
    case NodeKind::Tablerow: return walkLoop(n, "tablerowloop");
    case NodeKind::Cycle:
      if (!n.cycle.group.empty()) read(n.cycle.group, n.at, false);
      return walkBody(n.children);
    case NodeKind::Increment:
    case NodeKind::Decrement: bind(BindKind::Counter, n.counter.name, n.at); return;
    case NodeKind::Include: return walkInclusion(n, false);
    case NodeKind::Render: return walkInclusion(n, true);
    case NodeKind::Text:
    case NodeKind::Raw:
    case NodeKind::Comment:
    case NodeKind::InlineComment:
    case NodeKind::Doc:
    case NodeKind::Break:
    case NodeKind::Continue: return;
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
    case NodeKind::NamedArgument:
    case NodeKind::Comparison:
    case NodeKind::Logical:
    case NodeKind::FilteredExpression: return walkExpression(n);
  }
}

void Walker::walkExpression(const Node& n) {
  ++visits_;
  switch (n.kind) {
    case NodeKind::Variable:
    case NodeKind::Property:
    case NodeKind::Index: return walkPath(n);
    case NodeKind::Filter:
      for (const Node& a : n.filterArgs()) walkExpression(a);
      return;
    default:
      for (const Node& c : n.children) walkExpression(c);
      return;
  }
}

// A variable with its members and indexes: one read of the name, the keys
// computed on the way, and the data path when the name leads to the data.
void Walker::walkPath(const Node& n) {
  const Node* root = &n;
  while ((root->kind == NodeKind::Property || root->kind == NodeKind::Index) && !root->children.empty()) {
    if (root->kind == NodeKind::Index && root->children.size() > 1) walkExpression(root->children[1]);
    root = &root->children[0];
  }
  if (root->kind != NodeKind::Variable) return walkExpression(*root);
  if (root->variable.name.empty()) {  // [key]: a name computed when rendering
    out_.dynamicFrames[frame_] = true;
    return;
  }
  read(root->variable.name, root->at, true);
  if (std::optional<PathText> path = pathOf(n)) out_.paths.push_back({std::move(path->text), place(root->at)});
}

// for/tablerow: the collection and the parameters, then the body with the
// loop variable and the loop object bound, then a for loop's else.
void Walker::walkLoop(const Node& n, std::string_view loopObject) {
  std::span<const Node> kids = n.children;
  if (kids.empty()) return;
  walkExpression(kids[0]);
  std::size_t i = 1;
  for (; i < kids.size() && kids[i].kind == NodeKind::NamedArgument; ++i) walkExpression(kids[i]);
  std::optional<std::string> alias = aliasOf(kids[0], "[]");
  uint32_t loop = openLoop();
  uint32_t variable = bind(BindKind::LoopVariable, n.loop.variable, n.at, alias);
  uint32_t object = bind(BindKind::LoopObject, loopObject, n.at);
  for (; i < kids.size() && kids[i].kind != NodeKind::Else; ++i) walkBody(kids.subspan(i, 1));
  // A for loop puts back what its variable held; a tablerow leaves the last item.
  if (n.kind == NodeKind::For) endScope(variable);
  endScope(object);
  closeLoop(loop);
  walkBody(kids.subspan(i));
}

void Walker::walkInclusion(const Node& n, bool isRender) {
  if (n.children.empty()) return;
  walkExpression(n.children[0]);
  read("templates", n.at, false);
  read("__templates", n.at, false);
  for (const Node& arg : n.children.subspan(1)) walkExpression(arg);
  PartialEntry* entry = nullptr;
  const Tree* tree = nullptr;
  switch (resolve(n, entry, tree)) {
    case Inclusion::Follow: return followPartial(n, *entry, *tree, isRender);
    case Inclusion::Missing: return;  // it writes an error and nothing else
    case Inclusion::Unknown:
      // A render keeps what it does to itself; an include may do anything.
      if (!isRender) out_.opaque.push_back({frame_, tick(), loop_});
      return;
  }
}

// Whether the walk can follow the inclusion, and into what.
Walker::Inclusion Walker::resolve(const Node& n, PartialEntry*& entry, const Tree*& tree) {
  const Node& name = n.children[0];
  if (name.kind != NodeKind::String || !catalog_.known() || storeBound_) return Inclusion::Unknown;
  entry = catalog_.find(name.literal.text);
  if (!entry) {
    out_.missing.push_back({place(name.at), std::string(name.literal.text)});
    return Inclusion::Missing;
  }
  bool onStack = std::find(stack_.begin(), stack_.end(), entry) != stack_.end();
  if (onStack || stack_.size() >= kMaxPartialDepth || visits_ > kMaxVisits) return Inclusion::Unknown;
  tree = catalog_.treeOf(*entry);
  sourceOf(entry);  // a partial that does not parse is reported all the same
  return tree ? Inclusion::Follow : Inclusion::Unknown;
}

// The partial in its scope: include shares the caller's frame, render starts
// a new one; arguments, the with value and the for element are bound in it
// for the partial's length, and the for form is a loop.
void Walker::followPartial(const Node& n, PartialEntry& entry, const Tree& tree, bool isRender) {
  const Node* with = nullptr;
  const Node* each = nullptr;
  std::vector<std::pair<const Node*, std::optional<std::string>>> args;
  for (const Node& arg : n.children.subspan(1)) {
    if (arg.kind != NodeKind::NamedArgument) continue;
    bool form = arg.argument.key == "with" || arg.argument.key == "for";
    if (arg.argument.key == "with") with = &arg;
    if (arg.argument.key == "for") each = &arg;
    if (!form) args.emplace_back(&arg, arg.children.empty() ? std::nullopt : aliasOf(arg.children[0]));
  }
  const Node* formArg = each ? each : with;
  std::optional<std::string> formAlias;
  if (formArg && !formArg->children.empty()) formAlias = aliasOf(formArg->children[0], each ? "[]" : "");
  std::string_view bound = formArg && !formArg->argument.alias.empty() ? formArg->argument.alias
                                                                        : n.children[0].literal.text;

  uint32_t callerFrame = frame_, callerSource = source_, callerLoop = loop_;
  if (isRender) {
    frame_ = static_cast<uint32_t>(out_.dynamicFrames.size());
    out_.dynamicFrames.push_back(false);
    loop_ = kNone;
  }
  std::vector<uint32_t> scoped;
  for (const auto& [arg, alias] : args) scoped.push_back(bind(BindKind::Argument, arg->argument.key, arg->at, alias));
  uint32_t loop = each ? openLoop() : kNone;
  if (formArg) scoped.push_back(bind(BindKind::Argument, bound, formArg->at, formAlias));
  if (each) scoped.push_back(bind(BindKind::LoopObject, "forloop", each->at));
  stack_.push_back(&entry);
  source_ = sourceOf(&entry);
  walkBody(tree.root->children);
  stack_.pop_back();
  for (uint32_t b : scoped) endScope(b);
  if (each) closeLoop(loop);
  frame_ = callerFrame;
  source_ = callerSource;
  loop_ = callerLoop;
}

// The data path an expression reads, as far as the text tells it: nothing
// when its name holds a value the template computed.
std::optional<PathText> Walker::pathOf(const Node& n) const {
  switch (n.kind) {
    case NodeKind::Variable: {
      if (n.variable.name.empty()) return std::nullopt;
      const Bind* b = activeBind(n.variable.name);
      if (!b) return PathText{std::string(n.variable.name)};
      if (!b->hasAlias) return std::nullopt;
      return PathText{b->alias};
    }
    case NodeKind::Property: {
      std::optional<PathText> base = n.children.empty() ? std::nullopt : pathOf(n.children[0]);
      if (base && !base->cut) base->text.append(".").append(n.property.member);
      return base;
    }
    case NodeKind::Index: {
      std::optional<PathText> base = n.children.size() < 2 ? std::nullopt : pathOf(n.children[0]);
      if (!base || base->cut) return base;
      const Node& key = n.children[1];
      if (key.kind == NodeKind::String)
        base->text.append(".").append(key.literal.text);
      else if (key.kind == NodeKind::Integer)
        base->text.append("[").append(key.literal.text).append("]");
      else
        base->cut = true;
      return base;
    }
    default: return std::nullopt;
  }
}

// The data path a binding to `n` stands for (a plain alias), with `suffix`.
std::optional<std::string> Walker::aliasOf(const Node& n, std::string_view suffix) const {
  if (n.kind != NodeKind::Variable && n.kind != NodeKind::Property && n.kind != NodeKind::Index) return std::nullopt;
  std::optional<PathText> path = pathOf(n);
  if (!path || path->cut) return std::nullopt;
  return path->text.append(suffix);
}

const Bind* Walker::activeBind(std::string_view name) const {
  auto it = out_.bindsByName.find(name);
  if (it == out_.bindsByName.end()) return nullptr;
  for (auto b = it->second.rbegin(); b != it->second.rend(); ++b) {
    const Bind& candidate = out_.binds[*b];
    if (candidate.frame == frame_ && candidate.until == kNone) return &candidate;
  }
  return nullptr;
}

uint32_t Walker::bind(BindKind kind, std::string_view name, SourcePosition at, std::optional<std::string> alias) {
  auto index = static_cast<uint32_t>(out_.binds.size());
  out_.binds.push_back(Bind{name, frame_, tick(), kNone, loop_, place(at), kind, alias.has_value(),
                            alias.value_or(std::string())});
  out_.bindsByName[name].push_back(index);
  if (isStoreName(name)) storeBound_ = true;
  return index;
}

void Walker::read(std::string_view name, SourcePosition at, bool reported) {
  out_.reads.push_back(Read{name, frame_, tick(), loop_, place(at), reported});
}

uint32_t Walker::openLoop() {
  auto id = static_cast<uint32_t>(out_.loops.size());
  out_.loops.push_back(LoopSpan{tick(), kNone, loop_});
  loop_ = id;
  return id;
}

void Walker::closeLoop(uint32_t loop) {
  out_.loops[loop].end = tick();
  loop_ = out_.loops[loop].parent;
}

uint32_t Walker::sourceOf(PartialEntry* entry) {
  auto it = std::find(out_.sources.begin(), out_.sources.end(), entry);
  if (it != out_.sources.end()) return static_cast<uint32_t>(it - out_.sources.begin()) + 1;
  out_.sources.push_back(entry);
  return static_cast<uint32_t>(out_.sources.size());
}

}  // namespace

WalkRecord walkTemplate(const Tree& tree, PartialCatalog& catalog) {
  WalkRecord record;
  Walker(catalog, record).run(tree);
  return record;
}

bool insideLoops(const WalkRecord& r, uint32_t loop, uint32_t at) {
  for (uint32_t l = loop; l != kNone; l = r.loops[l].parent)
    if (r.loops[l].start <= at && at <= r.loops[l].end) return true;
  return false;
}

}  // namespace mervalt::check
