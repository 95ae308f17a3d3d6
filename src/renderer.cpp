// renderer.cpp: placeholder.
#include "renderer.h"
namespace mervalt {
Renderer::Renderer(Arena& arena, Value data, OutputBuffer& output)
    : arena_(arena), data_(data), output_(output),
      variables_(arena.resource()), counters_(arena.resource()), cyclePositions_(arena.resource()),
      continueOffsets_(arena.resource()), locals_(arena.resource()), loopStack_(arena.resource()),
      tablerowStack_(arena.resource()), templateCache_(arena.resource()) {}
void Renderer::renderRoot(const Node&) {}
Flow Renderer::renderNode(const Node&) { return Flow::Normal; }
Value Renderer::evaluate(const Node&) { return Value(); }
std::pair<char*, std::size_t> renderCall(std::string_view, std::string_view, HeapResource&) { return {nullptr, 0}; }
}  // namespace mervalt
