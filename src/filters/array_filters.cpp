// array_filters.cpp: placeholder until the family is written.
#include "filters.h"

namespace mervalt {

Value filterFirst(Renderer&, const Value& in) { return in; }
Value filterLast(Renderer&, const Value& in) { return in; }
Value filterReverse(Renderer&, const Value& in) { return in; }
Value filterSlice(Renderer&, const Value& in, Args) { return in; }
Value filterSplit(Renderer&, const Value& in, Args) { return in; }
Value filterJoin(Renderer&, const Value& in, Args) { return in; }
Value filterConcat(Renderer&, const Value& in, Args) { return in; }
Value filterCompact(Renderer&, const Value& in, Args) { return in; }
Value filterUniq(Renderer&, const Value& in, Args) { return in; }
Value filterSort(Renderer&, const Value& in, Args) { return in; }
Value filterSortNatural(Renderer&, const Value& in, Args) { return in; }

}  // namespace mervalt
