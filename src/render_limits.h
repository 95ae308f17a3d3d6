// render_limits.h: every bound on what one render may take, why each is what it is,
// and the failure a render raises when it goes beyond one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

namespace mervalt {

// ---- bounds fixed at build time ----

// Nesting of blocks and expressions (parentheses, brackets, property chains,
// and/or chains, liquid tags) within one template. Deeper templates do not
// parse, which keeps every recursion over the tree bounded.
inline constexpr int kMaxParseDepth = 100;

// Array and object nesting in a JSON document; deeper documents read as no
// data, which keeps conversion and display recursion bounded.
inline constexpr int kMaxJsonDepth = 128;

// Rendering nested deeper than this (blocks inside blocks, includes inside
// includes) fails. With it, a render runs within a 256 KiB thread stack: a
// host may lower it, not raise it.
inline constexpr uint32_t kMaxRenderDepth = 100;

// ---- bounds that follow the size of the input ----

// Memory one render may hold, arenas and output together: a base and so much
// per byte of input (template, its partials and the JSON text), at most the
// ceiling. An input holds a few times its size while it is read and
// rendered; a small template that doubles a text in a loop stops at the
// base instead of taking the machine.
inline constexpr uint64_t kCallMemoryBase = uint64_t{64} << 20;
inline constexpr uint64_t kCallMemoryPerInputByte = 32;
inline constexpr uint64_t kMaxCallMemory = uint64_t{2} << 30;

// Bytes of output of one render. The memory bound above usually comes first.
inline constexpr uint64_t kMaxOutputBytes = uint64_t{1} << 30;

// Loop iterations (for, tablerow, include/render "for") and inclusions, so
// that a loop that writes nothing, or a partial that includes itself twice
// per level, cannot spin for hours.
inline constexpr uint64_t kMaxLoopIterations = 10'000'000;

// Units of work: one per node rendered and per expression evaluated,
// kFilterCallWork per filter applied, one per element and per
// kBytesPerWorkUnit bytes of every value that a filter, comparison or output
// handles and of every partial parsed, one per integer of a range expanded
// for a filter, and n log2 n for a sort of n elements. Loops inside loops
// over filters of long texts multiply their work: this bound keeps any
// render of a small input under half a second of an optimised build (about
// 30 ns a unit on the 2-core benchmark machine). A render also gets
// kRenderWorkPerDataByte units per byte of JSON, so that a large document
// can be walked several times.
inline constexpr uint64_t kMaxRenderWork = 10'000'000;
inline constexpr uint64_t kRenderWorkPerDataByte = 4;
inline constexpr std::size_t kBytesPerWorkUnit = 16;
inline constexpr uint64_t kFilterCallWork = 4;  // evaluates arguments, usually makes a value

// Which bound a render went beyond.
enum class LimitKind : uint8_t { Depth, Iterations, Work, Output, Memory };

// The bounds of one render.
struct Limits {
  uint64_t memory = kMaxCallMemory;
  uint64_t output = kMaxOutputBytes;
  uint64_t work = UINT64_MAX;
  uint64_t iterations = kMaxLoopIterations;
  uint32_t depth = kMaxRenderDepth;
  uint8_t setByHost = 0;  // one bit per LimitKind: the host chose this bound

  bool isDefault(LimitKind k) const { return (setByHost & (1u << static_cast<unsigned>(k))) == 0; }
};

// What a host asks for; 0 keeps the default of that bound.
struct LimitSettings {
  uint64_t memory = 0, output = 0, work = 0, iterations = 0;
  uint32_t depth = 0;
};

// The bounds of a render of `templateBytes` of template text (partials
// included) against `jsonBytes` of JSON, with the host's settings over the
// defaults.
Limits limitsFor(std::size_t templateBytes, std::size_t jsonBytes, const LimitSettings& settings = {});

// A render that went beyond one of its bounds; the render fails. It is a
// std::bad_alloc so that it ends the render wherever running out of memory
// does; code that recovers from a failed allocation must let it pass.
struct LimitExceeded : std::bad_alloc {
  LimitExceeded(LimitKind k, uint64_t v, bool byDefault) : kind(k), limit(v), isDefault(byDefault) {}
  const char* what() const noexcept override { return "a render limit was exceeded"; }
  LimitKind kind;
  uint64_t limit;   // the bound that was exceeded
  bool isDefault;   // the bound follows the input's size (not set by the host)
};

// "rendering nests deeper than 100 levels (blocks, include and render)",
// "the output would be larger than 1 GiB", ...
std::string describeLimit(const LimitExceeded& e);

// 1073741824 -> "1 GiB", 1500 -> "1,500 bytes".
std::string describeBytes(uint64_t bytes);

// 10000000 -> "10,000,000".
std::string withSeparators(uint64_t n);

}  // namespace mervalt
