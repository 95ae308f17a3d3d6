// render_limits.cpp: the bounds of a render from its input's size and the host's
// settings, and how a failure against one is worded.
#include "render_limits.h"

#include <algorithm>

namespace mervalt {
namespace {

uint64_t saturatingAdd(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }
uint64_t saturatingMul(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

uint64_t chosen(uint64_t setting, uint64_t byDefault, LimitKind k, uint8_t& setByHost) {
  if (setting == 0) return byDefault;
  setByHost |= static_cast<uint8_t>(1u << static_cast<unsigned>(k));
  return setting;
}

}  // namespace

Limits limitsFor(std::size_t templateBytes, std::size_t jsonBytes, const LimitSettings& s) {
  uint64_t input = saturatingAdd(templateBytes, jsonBytes);
  uint64_t memory = std::min(kMaxCallMemory, saturatingAdd(kCallMemoryBase, saturatingMul(input, kCallMemoryPerInputByte)));
  uint64_t work = saturatingAdd(kMaxRenderWork, saturatingMul(jsonBytes, kRenderWorkPerDataByte));
  Limits l;
  l.memory = chosen(s.memory, memory, LimitKind::Memory, l.setByHost);
  l.output = chosen(s.output, kMaxOutputBytes, LimitKind::Output, l.setByHost);
  l.work = chosen(s.work, work, LimitKind::Work, l.setByHost);
  l.iterations = chosen(s.iterations, kMaxLoopIterations, LimitKind::Iterations, l.setByHost);
  l.depth = static_cast<uint32_t>(chosen(s.depth, kMaxRenderDepth, LimitKind::Depth, l.setByHost));
  return l;
}

std::string withSeparators(uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string describeBytes(uint64_t bytes) {
  static constexpr std::pair<unsigned, const char*> kUnits[] = {{30, " GiB"}, {20, " MiB"}, {10, " KiB"}};
  for (auto [shift, unit] : kUnits)
    if (bytes != 0 && bytes % (uint64_t{1} << shift) == 0) return withSeparators(bytes >> shift) + unit;
  return withSeparators(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string describeLimit(const LimitExceeded& e) {
  switch (e.kind) {
    case LimitKind::Depth:
      return "rendering nests deeper than " + std::to_string(e.limit) + " levels (blocks, include and render)";
    case LimitKind::Iterations: return "more than " + withSeparators(e.limit) + " loop iterations and inclusions";
    case LimitKind::Work:
      return "more than " + withSeparators(e.limit) + " units of work" +
             (e.isDefault ? " (" + withSeparators(kMaxRenderWork) + " and " + std::to_string(kRenderWorkPerDataByte) +
                                " per byte of data)"
                          : "");
    case LimitKind::Output: return "the output would be larger than " + describeBytes(e.limit);
    case LimitKind::Memory:
      return "rendering would hold more than " + describeBytes(e.limit) + " of memory" +
             (e.isDefault ? " (" + describeBytes(kCallMemoryBase) + " and " +
                                std::to_string(kCallMemoryPerInputByte) + " bytes per byte of template and data, at most " + describeBytes(kMaxCallMemory) + ")"
                          : "");
  }
  return "a render limit was exceeded";  // not reached: the switch names every kind
}

}  // namespace mervalt
