// tags.h: the tags with rules of their own, each rendered by a function
// that reaches the render through the Renderer's public members.
#pragma once

#include "parse/node.h"
#include "render/renderer.h"

namespace mervalt::tags {

// conditionals.cpp
Flow renderIf(Renderer& r, const Node& node);
Flow renderUnless(Renderer& r, const Node& node);
Flow renderCase(Renderer& r, const Node& node);
// loops.cpp
Flow renderFor(Renderer& r, const Node& node);
// The text that names a loop's collection in its continue key: "items",
// "(1..5)", "p.list".
std::string_view continueKey(Renderer& r, const Node& expr);
// tablerow.cpp
Flow renderTablerow(Renderer& r, const Node& node);
void renderCycle(Renderer& r, const Node& node);
void renderCounter(Renderer& r, const Node& node, bool up);
Flow renderIfchanged(Renderer& r, const Node& node);
// include.cpp
Flow renderInclusion(Renderer& r, const Node& node, bool isRender);

}  // namespace mervalt::tags
