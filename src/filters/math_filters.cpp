// math_filters.cpp: placeholder until the family is written.
#include "filters.h"

namespace mervalt {

Value filterAbs(Renderer&, const Value& in) { return in; }
Value filterCeil(Renderer&, const Value& in) { return in; }
Value filterFloor(Renderer&, const Value& in) { return in; }
Value filterPlus(Renderer&, const Value& in, Args) { return in; }
Value filterMinus(Renderer&, const Value& in, Args) { return in; }
Value filterTimes(Renderer&, const Value& in, Args) { return in; }
Value filterDividedBy(Renderer&, const Value& in, Args) { return in; }
Value filterModulo(Renderer&, const Value& in, Args) { return in; }
Value filterRound(Renderer&, const Value& in, Args) { return in; }
Value filterAtMost(Renderer&, const Value& in, Args) { return in; }
Value filterAtLeast(Renderer&, const Value& in, Args) { return in; }

}  // namespace mervalt
