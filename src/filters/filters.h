// filters.h: every filter handler, by family. The table in dispatch.cpp maps
// names to them. Handlers without arguments never look at what follows their
// name; the table adapts them.
#pragma once

#include <span>

#include "parse/node.h"
#include "data/value.h"

namespace mervalt {

class Renderer;
using Args = std::span<const Node>;

// A filter's handler: its input and its arguments (unevaluated: a handler
// evaluates them when and in the order its rules say).
using FilterFn = Value (*)(Renderer& r, const Value& input, Args args);
// The last filter of an output may write its result's display text straight
// into the output instead of building the result first. An emitter writes
// exactly the display text of what its filter returns.
using EmitFn = void (*)(Renderer& r, const Value& input, Args args);
void emitEscape(Renderer& r, const Value& in, Args args);
void emitJoin(Renderer& r, const Value& in, Args args);
void emitTruncate(Renderer& r, const Value& in, Args args);
void emitAppend(Renderer& r, const Value& in, Args args);
void emitPrepend(Renderer& r, const Value& in, Args args);
void emitUpcase(Renderer& r, const Value& in, Args args);
void emitDowncase(Renderer& r, const Value& in, Args args);
void emitCapitalize(Renderer& r, const Value& in, Args args);

// dispatch.cpp
Value filterDefault(Renderer& r, const Value& in, Args args);
Value filterSize(Renderer& r, const Value& in);

// string_filters.cpp
Value filterT(Renderer& r, const Value& in);
Value filterStrip(Renderer& r, const Value& in);
Value filterLstrip(Renderer& r, const Value& in);
Value filterRstrip(Renderer& r, const Value& in);
Value filterUpcase(Renderer& r, const Value& in);
Value filterDowncase(Renderer& r, const Value& in);
Value filterCapitalize(Renderer& r, const Value& in);
Value filterAppend(Renderer& r, const Value& in, Args args);
Value filterPrepend(Renderer& r, const Value& in, Args args);
Value filterRemove(Renderer& r, const Value& in, Args args);
Value filterRemoveFirst(Renderer& r, const Value& in, Args args);
Value filterRemoveLast(Renderer& r, const Value& in, Args args);
Value filterReplace(Renderer& r, const Value& in, Args args);
Value filterReplaceFirst(Renderer& r, const Value& in, Args args);
Value filterReplaceLast(Renderer& r, const Value& in, Args args);
Value filterTruncate(Renderer& r, const Value& in, Args args);
Value filterTruncatewords(Renderer& r, const Value& in, Args args);

// math_filters.cpp
Value filterAbs(Renderer& r, const Value& in);
Value filterCeil(Renderer& r, const Value& in);
Value filterFloor(Renderer& r, const Value& in);
Value filterPlus(Renderer& r, const Value& in, Args args);
Value filterMinus(Renderer& r, const Value& in, Args args);
Value filterTimes(Renderer& r, const Value& in, Args args);
Value filterDividedBy(Renderer& r, const Value& in, Args args);
Value filterModulo(Renderer& r, const Value& in, Args args);
Value filterRound(Renderer& r, const Value& in, Args args);
Value filterAtMost(Renderer& r, const Value& in, Args args);
Value filterAtLeast(Renderer& r, const Value& in, Args args);

// array_filters.cpp
Value filterFirst(Renderer& r, const Value& in);
Value filterLast(Renderer& r, const Value& in);
Value filterReverse(Renderer& r, const Value& in);
Value filterSlice(Renderer& r, const Value& in, Args args);
Value filterSplit(Renderer& r, const Value& in, Args args);
Value filterJoin(Renderer& r, const Value& in, Args args);
Value filterConcat(Renderer& r, const Value& in, Args args);
Value filterCompact(Renderer& r, const Value& in, Args args);
Value filterUniq(Renderer& r, const Value& in, Args args);
Value filterSort(Renderer& r, const Value& in, Args args);
Value filterSortNatural(Renderer& r, const Value& in, Args args);

// property_filters.cpp
Value filterWhere(Renderer& r, const Value& in, Args args);
Value filterReject(Renderer& r, const Value& in, Args args);
Value filterFind(Renderer& r, const Value& in, Args args);
Value filterFindIndex(Renderer& r, const Value& in, Args args);
Value filterHas(Renderer& r, const Value& in, Args args);
Value filterMap(Renderer& r, const Value& in, Args args);
Value filterSum(Renderer& r, const Value& in, Args args);

// date_filter.cpp
Value filterDate(Renderer& r, const Value& in, Args args);

// digest_filters.cpp
Value filterMd5(Renderer& r, const Value& in);
Value filterSha256(Renderer& r, const Value& in);
Value filterBase64Encode(Renderer& r, const Value& in);
Value filterBase64Decode(Renderer& r, const Value& in);
Value filterBase64UrlSafeEncode(Renderer& r, const Value& in);
Value filterBase64UrlSafeDecode(Renderer& r, const Value& in);

// json_filter.cpp
Value filterJson(Renderer& r, const Value& in);

// html_filters.cpp
Value filterEscape(Renderer& r, const Value& in);
Value filterEscapeOnce(Renderer& r, const Value& in);
Value filterStripHtml(Renderer& r, const Value& in);
Value filterNewlineToBr(Renderer& r, const Value& in);
Value filterStripNewlines(Renderer& r, const Value& in);
Value filterUrlEncode(Renderer& r, const Value& in);
Value filterUrlDecode(Renderer& r, const Value& in);

}  // namespace mervalt
