// string_filters.cpp: placeholder until the family is written.
#include "filters.h"

namespace mervalt {

Value filterT(Renderer&, const Value& in) { return in; }
Value filterStrip(Renderer&, const Value& in) { return in; }
Value filterLstrip(Renderer&, const Value& in) { return in; }
Value filterRstrip(Renderer&, const Value& in) { return in; }
Value filterUpcase(Renderer&, const Value& in) { return in; }
Value filterDowncase(Renderer&, const Value& in) { return in; }
Value filterCapitalize(Renderer&, const Value& in) { return in; }
Value filterAppend(Renderer&, const Value& in, Args) { return in; }
Value filterPrepend(Renderer&, const Value& in, Args) { return in; }
Value filterRemove(Renderer&, const Value& in, Args) { return in; }
Value filterRemoveFirst(Renderer&, const Value& in, Args) { return in; }
Value filterRemoveLast(Renderer&, const Value& in, Args) { return in; }
Value filterReplace(Renderer&, const Value& in, Args) { return in; }
Value filterReplaceFirst(Renderer&, const Value& in, Args) { return in; }
Value filterReplaceLast(Renderer&, const Value& in, Args) { return in; }
Value filterTruncate(Renderer&, const Value& in, Args) { return in; }
Value filterTruncatewords(Renderer&, const Value& in, Args) { return in; }

}  // namespace mervalt
