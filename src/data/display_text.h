// display_text.h: the text the engine writes for a Value.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <string>
#include <string_view>

#include "data/value.h"

namespace mervalt {

class Arena;

// A Sink is anything with append(std::string_view) and push_back(char):
// the render output buffer or a std::pmr::string in an arena.
template <class Sink>
void appendDisplay(Sink& out, const Value& v);
template <class Sink>
void appendInteger(Sink& out, int64_t i);
template <class Sink>
void appendFloat(Sink& out, double f);

// The display text of `v`. Strings, errors and drops hand back their own
// bytes; everything else is built in `arena`. Throws std::bad_alloc.
std::string_view toString(const Value& v, Arena& arena);

}  // namespace mervalt
