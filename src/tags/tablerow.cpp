// tablerow.cpp: placeholder.
#include "../renderer.h"
namespace mervalt {
Flow Renderer::renderTablerow(const Node&) { return Flow::Normal; }
Value Renderer::buildTablerowloopObject() { return Value(); }
void Renderer::renderCycle(const Node&) {}
void Renderer::renderIncrement(const Node&, bool) {}
Flow Renderer::renderIfchanged(const Node&) { return Flow::Normal; }
}  // namespace mervalt
