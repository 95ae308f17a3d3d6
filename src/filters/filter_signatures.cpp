// filter_signatures.cpp: the wording of a filter's arity in messages.
#include "filters/filter_signatures.h"

namespace mervalt {

std::string describeArity(const FilterSignature& s) {
  auto count = [](int n) { return std::to_string(n) + (n == 1 ? " argument" : " arguments"); };
  if (s.takes == 0) return "no arguments";
  if (s.needs == s.takes) return count(s.takes);
  if (s.needs == 0) return "at most " + count(s.takes);
  return std::to_string(s.needs) + " or " + count(s.takes);
}

}  // namespace mervalt
