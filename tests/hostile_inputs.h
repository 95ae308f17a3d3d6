// hostile_inputs.h: adversarial templates and documents, with how each must
// end. The test suite checks the outcome and the memory deterministically;
// the benchmark times the same inputs.
#pragma once

#include <concepts>
#include <cstddef>
#include <string>
#include <vector>

namespace mervalt::test {

// How a hostile input must end: it renders, or the render fails for a
// reason, which for a bound is the bound it met.
enum class Outcome { Renders, DoesNotParse, Depth, Iterations, Work, Output, Memory };

// A template or a document: a literal, or made by a function only when the
// test that needs it runs.
class Text {
 public:
  using Make = std::string (*)();
  Text(const char* literal) : literal_(literal) {}
  template <std::convertible_to<Make> F>
  Text(F make) : make_(make) {}
  std::string get() const { return make_ ? make_() : literal_; }

 private:
  const char* literal_ = "";
  Make make_ = nullptr;
};

struct Hostile {
  const char* name;
  Text templateText;
  Text json;
  Outcome outcome;
  std::size_t mebibytes;  // the call's peak memory, at most (templates of megabytes hold their tokens and tree)
};

// Every hostile input, in groups: nesting, partials, ranges, growing texts and
// lists, large texts, hostile data, invalid UTF-8.
std::vector<Hostile> hostileInputs();

const char* outcomeName(Outcome o);

}  // namespace mervalt::test
