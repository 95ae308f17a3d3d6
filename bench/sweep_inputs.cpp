// sweep_inputs.cpp: generators for the size sweeps, deterministic so that
// every run measures the same bytes.
#include "sweep_inputs.h"

#include <cstdint>
#include <random>

namespace mervalt::bench {

static_assert(kProductSection.size() == 127);

std::string repeatedSection(std::size_t copies) {
  std::string out;
  out.reserve(kProductSection.size() * copies);
  for (std::size_t i = 0; i < copies; ++i) out += kProductSection;
  return out;
}

std::string integerArrayJson(std::size_t bytes) {
  std::mt19937_64 rnd(42);
  std::string json = "[";
  while (json.size() < bytes) {
    if (json.size() > 1) json += ',';
    // Widths from 1 to 19 digits, some negative: the reader's number paths.
    uint64_t digits = 1 + rnd() % 18;
    int64_t bound = 1;
    for (uint64_t d = 0; d < digits; ++d) bound *= 10;
    int64_t v = static_cast<int64_t>(rnd() % static_cast<uint64_t>(bound));
    json += std::to_string(rnd() % 4 == 0 ? -v : v);
  }
  return json + "]";
}

std::string tableRowsTemplate(std::size_t outputBytes) {
  // A row is <tr><td>, the number, </td><td>, "Mug &amp; Co" and </td></tr>.
  constexpr std::size_t kRowWithoutNumber = 8 + 9 + 12 + 10;
  std::size_t rows = 0, bytes = 0;
  while (bytes < outputBytes) bytes += kRowWithoutNumber + std::to_string(++rows).size();
  return "{% for i in (1.." + std::to_string(rows) +
         ") %}<tr><td>{{ i }}</td><td>{{ name | escape }}</td></tr>{% endfor %}";
}

std::string escapedTextJson(std::size_t outputBytes) {
  // Words and now and then a character that escape rewrites; a quote is
  // escaped in the JSON too, so the reader copies those strings.
  static constexpr std::string_view kWords[] = {"harbor ", "meadow ",  "quartz ", "the ",   "of ",
                                                "willow ", "granite ", "and ",    "river ", "a "};
  static constexpr std::string_view kMarks[][2] = {
      {"& ", "&amp; "}, {"<b>", "&lt;b&gt;"}, {"\\\"", "&quot;"}, {"it's ", "it&#39;s "}};
  std::mt19937_64 rnd(7);
  std::string json = "{\"text\": \"";
  for (std::size_t escaped = 0; escaped < outputBytes;) {
    if (rnd() % 12 == 0) {
      const auto& mark = kMarks[rnd() % 4];
      json += mark[0];
      escaped += mark[1].size();
    } else {
      std::string_view w = kWords[rnd() % 10];
      json += w;
      escaped += w.size();
    }
  }
  return json + "\"}";
}

}  // namespace mervalt::bench
