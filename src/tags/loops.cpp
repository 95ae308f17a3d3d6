// loops.cpp: placeholder.
#include "../renderer.h"
namespace mervalt {
Flow Renderer::renderFor(const Node&) { return Flow::Normal; }
Value Renderer::buildForloopObject(std::size_t) { return Value(); }
std::string_view Renderer::buildContinueKey(const Node&) { return {}; }
}  // namespace mervalt
