// parser.cpp: placeholder.
#include "parser.h"
#include "arena.h"
namespace mervalt {
const Node& parseTemplate(std::string_view source, Arena& arena) {
  Node* root = arena.make<Node>();
  if (!source.empty()) {
    Node* text = arena.make<Node>();
    text->kind = NodeKind::Text;
    text->text = source;
    root->children = {text, 1};
  }
  return *root;
}
}  // namespace mervalt
