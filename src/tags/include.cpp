// include.cpp: placeholder.
#include "../renderer.h"
namespace mervalt {
Flow Renderer::renderIncludeOrRender(const Node&, bool) { return Flow::Normal; }
const Node& Renderer::parseCached(std::string_view source) { return parseTemplate(source, arena_); }
}  // namespace mervalt
