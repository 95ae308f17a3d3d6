// json_input.h: reading the JSON document of a call into Values.
#pragma once

#include <string_view>

#include "data/value.h"
#include "render_limits.h"

namespace mervalt {

class Arena;

// How many readable bytes the reader needs after the text. A caller that
// has them (any values) spares the reader a padded copy of the text.
inline constexpr std::size_t kJsonPadding = 64;

// Reads `json` as one RFC 8259 document and converts it to Values in `arena`
// (reserved `_mervalt_` keys included). Any unreadable document, including a
// repeated key in an object, yields nil (and sets `*readable` false, when
// given). Throws std::bad_alloc only when the arena cannot grow. With
// `padded`, kJsonPadding readable bytes follow the text; the Values may then
// point into the text, which must outlive them.
Value readJsonDocument(std::string_view json, Arena& arena, bool padded = false, bool* readable = nullptr);

}  // namespace mervalt
