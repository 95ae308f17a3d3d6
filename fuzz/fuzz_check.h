// fuzz_check.h: the bounds the render targets fuzz within, and the check that an input renders the same way twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "memory/arena.h"
#include "parse/parser.h"
#include "api/call.h"
#include "render_limits.h"

namespace mervalt::fuzzing {

// The bounds of every fuzzed render, far below a call's own, so that no
// input takes more than a few milliseconds under ASan and the fuzzer spends
// its time on many small inputs rather than on a few slow ones. A unit of
// work costs from about 50 ns to 0.7 us under ASan: the slowest are the
// elements of a sort_natural, whose comparisons grow faster than the units
// it is charged. The slowest renders within these bounds, under ASan:
// - work 5,000: sort_natural of a 5,000-integer range, about 3.5 ms (twice
//   that with twice the bound); a date parsed in a loop, 1 ms. A realistic
//   page costs about 140 units per record shown (the benchmark catalogue),
//   the example products page 901, so a document of the size the fuzzer
//   writes (a few KiB, some 30 records) still renders whole.
// - iterations 5,000: a loop with an empty body costs iterations, not work;
//   5,000 cells of a tablerow take about 2 ms, and 5,000 still exceed any
//   loop over the records of a small document.
// - memory 4 MiB: a render of a small input holds under 1 MiB; one filter,
//   whose work is charged only once it returns, can still build a 4 MiB
//   text (a replace of every byte of a 2,000-byte text by itself), about
//   4 ms.
// - output 256 KiB: far above a realistic page from a small input, and
//   reached at little cost.
inline constexpr LimitSettings kFuzzBounds{
    .memory = uint64_t{4} << 20, .output = uint64_t{256} << 10, .work = 5'000, .iterations = 5'000};

// How one render ended, in terms two renders can be compared by.
struct Outcome {
  enum class End : uint8_t { Rendered, ParseError, Limit, OutOfMemory };
  End end = End::Rendered;
  std::string text;  // the rendered bytes, or what stopped the render
  CallStats stats;   // work and iterations done, also by a render that failed
  std::size_t peak = 0;

  bool sameAs(const Outcome& o, bool comparePeak) const {
    return end == o.end && text == o.text && stats.work == o.stats.work && stats.iterations == o.stats.iterations &&
           (!comparePeak || peak == o.peak);
  }
};

inline const char* describeEnd(Outcome::End end) {
  switch (end) {
    case Outcome::End::Rendered: return "rendered";
    case Outcome::End::ParseError: return "parse error";
    case Outcome::End::Limit: return "limit";
    case Outcome::End::OutOfMemory: return "out of memory";
  }
  return "?";
}

// Renders through the engine's own entry point. Exceptions other than the
// documented failures escape: the fuzzer reports them as a crash.
inline Outcome renderOnce(std::string_view templateText, std::string_view json, const Limits& limits) {
  HeapResource heap(limits);
  Outcome o;
  try {
    auto [ptr, len] = renderCall(templateText, json, heap, limits, &o.stats);
    o.text.assign(ptr ? ptr : "", len);
    std::free(ptr);
  } catch (const ParseError& e) {
    o.end = Outcome::End::ParseError;
    o.text = e.partial + " " + std::to_string(e.line) + ":" + std::to_string(e.column) + " " + e.message;
  } catch (const LimitExceeded& e) {
    o.end = Outcome::End::Limit;
    o.text = describeLimit(e);
  } catch (const std::bad_alloc&) {
    o.end = Outcome::End::OutOfMemory;
  }
  o.peak = heap.peak();
  return o;
}

[[noreturn]] inline void fail(const char* what, const Outcome& first, const Outcome& second) {
  std::fprintf(stderr,
               "%s\n  first:  %s, work %llu, iterations %llu, peak %zu bytes, %zu bytes of text: %.300s\n"
               "  second: %s, work %llu, iterations %llu, peak %zu bytes, %zu bytes of text: %.300s\n",
               what, describeEnd(first.end), static_cast<unsigned long long>(first.stats.work),
               static_cast<unsigned long long>(first.stats.iterations), first.peak, first.text.size(),
               first.text.c_str(), describeEnd(second.end), static_cast<unsigned long long>(second.stats.work),
               static_cast<unsigned long long>(second.stats.iterations), second.peak, second.text.size(),
               second.text.c_str());
  std::abort();
}

// Renders within kFuzzBounds, then a second time: a render that succeeded
// again with the call's own, wider bounds (it must not notice them), one
// that failed with the same bounds (it must fail the same way, at the same
// point). Either way the second call starts from the blocks the first left
// in the thread's cache, and must not notice them either. A success also
// stays within every bound.
inline void checkRender(std::string_view templateText, std::string_view json) {
  const Limits tight = limitsFor(templateText.size(), json.size(), kFuzzBounds);
  Outcome first = renderOnce(templateText, json, tight);
  bool rendered = first.end == Outcome::End::Rendered;
  if (rendered && (first.stats.work > tight.work || first.stats.iterations > tight.iterations ||
                   first.peak > tight.memory || first.text.size() > tight.output))
    fail("a render went beyond a bound and still succeeded", first, first);
  if (!rendered && first.peak > tight.memory) fail("a failed render held more than its memory bound", first, first);
  // The output buffer's growth stops at the output bound, so the peak of a
  // render under other bounds may differ.
  Outcome second = renderOnce(templateText, json, rendered ? limitsFor(templateText.size(), json.size()) : tight);
  if (!first.sameAs(second, !rendered)) fail("the same input rendered differently", first, second);
}

}  // namespace mervalt::fuzzing
