// filter_signatures.h: the arguments each filter of the table reads, as its
// handler reads them: how many positional ones it needs and takes, and the
// keyword it knows. Indexed by FilterId; dispatch.cpp checks at compile time
// that it names the same filters in the same order as the filter table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "parse/node.h"

namespace mervalt {

struct FilterSignature {
  std::string_view name;
  uint8_t needs;              // positional arguments without which it returns a fallback
  uint8_t takes;              // positional arguments it reads at most; more are never evaluated
  std::string_view keyword;   // the keyword argument it knows, or ""
};

inline constexpr std::size_t kFilterCount = 63;

// In the filter table's order (sorted by name length). A keyword argument
// given to a filter that knows none takes a positional place and reads as nil.
inline constexpr std::array<FilterSignature, kFilterCount> kFilterSignatures{{
    {"t", 0, 0, ""},
    {"md5", 0, 0, ""},
    {"has", 1, 2, ""},
    {"sum", 0, 1, ""},
    {"map", 1, 1, ""},
    {"abs", 0, 0, ""},
    {"json", 0, 0, ""},
    {"plus", 1, 1, ""},
    {"uniq", 0, 1, ""},
    {"find", 1, 2, ""},
    {"sort", 0, 1, ""},
    {"last", 0, 0, ""},
    {"ceil", 0, 0, ""},
    {"size", 0, 0, ""},
    {"join", 0, 1, ""},
    {"date", 1, 1, ""},
    {"split", 0, 1, ""},
    {"times", 1, 1, ""},
    {"minus", 1, 1, ""},
    {"strip", 0, 0, ""},
    {"slice", 1, 2, ""},
    {"first", 0, 0, ""},
    {"floor", 0, 0, ""},
    {"round", 0, 1, ""},
    {"where", 1, 2, ""},
    {"lstrip", 0, 0, ""},
    {"sha256", 0, 0, ""},
    {"reject", 1, 2, ""},
    {"modulo", 1, 1, ""},
    {"append", 1, 1, ""},
    {"remove", 1, 1, ""},
    {"upcase", 0, 0, ""},
    {"escape", 0, 0, ""},
    {"rstrip", 0, 0, ""},
    {"concat", 1, 1, ""},
    {"prepend", 1, 1, ""},
    {"replace", 1, 2, ""},
    {"reverse", 0, 0, ""},
    {"compact", 0, 1, ""},
    {"at_most", 1, 1, ""},
    {"default", 0, 1, "allow_false"},
    {"downcase", 0, 0, ""},
    {"truncate", 0, 2, ""},
    {"at_least", 1, 1, ""},
    {"strip_html", 0, 0, ""},
    {"find_index", 1, 2, ""},
    {"url_decode", 0, 0, ""},
    {"divided_by", 1, 1, ""},
    {"url_encode", 0, 0, ""},
    {"capitalize", 0, 0, ""},
    {"remove_last", 1, 1, ""},
    {"escape_once", 0, 0, ""},
    {"sort_natural", 0, 1, ""},
    {"replace_last", 1, 2, ""},
    {"remove_first", 1, 1, ""},
    {"replace_first", 1, 2, ""},
    {"newline_to_br", 0, 0, ""},
    {"base64_decode", 0, 0, ""},
    {"base64_encode", 0, 0, ""},
    {"truncatewords", 0, 2, ""},
    {"strip_newlines", 0, 0, ""},
    {"base64_url_safe_encode", 0, 0, ""},
    {"base64_url_safe_decode", 0, 0, ""},
}};

// The signature of a filter of the table; `id` must not be kUnknownFilter.
inline const FilterSignature& filterSignature(FilterId id) { return kFilterSignatures[id]; }

// "no arguments", "1 argument", "1 or 2 arguments", "at most 2 arguments".
std::string describeArity(const FilterSignature& s);

}  // namespace mervalt
