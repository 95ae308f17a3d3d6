// property_filters.cpp: placeholder until the family is written.
#include "filters.h"

namespace mervalt {

Value filterWhere(Renderer&, const Value& in, Args) { return in; }
Value filterReject(Renderer&, const Value& in, Args) { return in; }
Value filterFind(Renderer&, const Value& in, Args) { return in; }
Value filterFindIndex(Renderer&, const Value& in, Args) { return in; }
Value filterHas(Renderer&, const Value& in, Args) { return in; }
Value filterMap(Renderer&, const Value& in, Args) { return in; }
Value filterSum(Renderer&, const Value& in, Args) { return in; }

}  // namespace mervalt
