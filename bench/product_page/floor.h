// floor.h: the hand-written render of the product page, the benchmark's floor.
#pragma once

#include <simdjson.h>

#include <cstddef>

// Parses `json` with a DOM parser made for this call and writes the page into
// a buffer that it frees again; returns the page's length. Throws
// std::runtime_error for a document of another shape.
std::size_t renderProductPageFloor(const simdjson::padded_string& json);
