// hostile_test.cpp: adversarial inputs, each run on a small stack. Each must
// end the way its table entry says (rendered, or stopped by the bound it
// names) within the memory it states. Nothing here is timed: the benchmark
// times the same inputs.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "hostile_inputs.h"
#include "mervalt.h"
#include "memory/arena.h"
#include "parse/parser.h"
#include "api/call.h"
#include "render/renderer.h"
#include "small_stack.h"

namespace mervalt::test {

void PrintTo(const Hostile& h, std::ostream* os) { *os << h.name; }

namespace {

Outcome outcomeOf(const LimitExceeded& e) {
  switch (e.kind) {
    case LimitKind::Depth: return Outcome::Depth;
    case LimitKind::Iterations: return Outcome::Iterations;
    case LimitKind::Work: return Outcome::Work;
    case LimitKind::Output: return Outcome::Output;
    case LimitKind::Memory: return Outcome::Memory;
  }
  return Outcome::Renders;
}

class HostileInput : public testing::TestWithParam<Hostile> {};

TEST_P(HostileInput, EndsAsExpectedWithinItsMemory) {
  const Hostile& h = GetParam();
  const std::string templateText = h.templateText.get(), json = h.json.get();
  Outcome outcome = Outcome::Renders;
  std::size_t peak = 0;
  std::string other;
  ASSERT_TRUE(runOnSmallStack([&] {
    Limits limits = limitsFor(templateText.size(), json.size());
    HeapResource heap(limits);
    try {
      auto [p, len] = renderCall(templateText, json, heap, limits);
      mervalt_free(p, len);
    } catch (const ParseError&) {
      outcome = Outcome::DoesNotParse;
    } catch (const LimitExceeded& e) {
      outcome = outcomeOf(e);
    } catch (const std::exception& e) {
      other = e.what();
    }
    peak = heap.peak();
  }));
  EXPECT_EQ(other, "") << "the call failed for another reason";
  EXPECT_STREQ(outcomeName(outcome), outcomeName(h.outcome));
  EXPECT_LE(peak, h.mebibytes << 20);
}

std::string caseName(const testing::TestParamInfo<Hostile>& info) {
  std::string out;
  for (const char* c = info.param.name; *c; ++c) out += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return out;
}

INSTANTIATE_TEST_SUITE_P(Adversarial, HostileInput, testing::ValuesIn(hostileInputs()), caseName);

}  // namespace
}  // namespace mervalt::test
