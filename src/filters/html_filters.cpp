// html_filters.cpp: placeholder until the family is written.
#include "filters.h"

namespace mervalt {

Value filterEscape(Renderer&, const Value& in) { return in; }
Value filterEscapeOnce(Renderer&, const Value& in) { return in; }
Value filterStripHtml(Renderer&, const Value& in) { return in; }
Value filterNewlineToBr(Renderer&, const Value& in) { return in; }
Value filterStripNewlines(Renderer&, const Value& in) { return in; }
Value filterUrlEncode(Renderer&, const Value& in) { return in; }
Value filterUrlDecode(Renderer&, const Value& in) { return in; }

}  // namespace mervalt
