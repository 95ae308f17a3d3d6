// sweep_inputs.h: the templates and documents of the size sweeps, each made
// to a requested size.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mervalt::bench {

// One product paragraph on a line of its own: an escaped title, a comparison
// and money arithmetic in 127 bytes. The template sweep repeats it.
inline constexpr std::string_view kProductSection =
    "<p>{{ p.title | escape }} {% if p.stock > 0 %}in stock{% else %}sold out{% endif %} "
    "{{ p.price | times: 1.25 | round: 2 }}</p>\n";
inline constexpr std::string_view kProductSectionData = R"({"p": {"title": "Mug & Co", "stock": 3, "price": 12.5}})";

std::string repeatedSection(std::size_t copies);

// A top-level array of integers of every magnitude, about `bytes` long.
std::string integerArrayJson(std::size_t bytes);

// A loop over (1..N) writing one table row per number, with N chosen so that
// the page is about `outputBytes` long.
std::string tableRowsTemplate(std::size_t outputBytes);
inline constexpr std::string_view kTableRowsData = R"({"name": "Mug & Co"})";

// {"text": ...}: prose with a few characters that escape, about `outputBytes`
// long once escaped.
std::string escapedTextJson(std::size_t outputBytes);
inline constexpr std::string_view kEscapedTextTemplate = "{{ text | escape }}";

}  // namespace mervalt::bench
