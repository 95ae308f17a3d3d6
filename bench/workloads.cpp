// workloads.cpp: deterministic generators for the benchmark templates and data.
#include "workloads.h"

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace mervalt::bench {
namespace {

// A fixed-seed generator, so every run measures the same bytes.
class Random {
 public:
  uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<uint32_t>(state_ >> 16);
  }
  uint32_t below(uint32_t n) { return next() % n; }
  template <std::size_t N>
  std::string_view pick(const std::string_view (&list)[N]) { return list[below(N)]; }

 private:
  uint64_t state_ = 0x9e3779b97f4a7c15u;
};

constexpr std::string_view kWords[] = {
    "alpine", "basalt", "cedar",  "delta",  "ember", "fjord",  "granite", "harbor",
    "island", "juniper", "kelp",  "lagoon", "meadow", "nectar", "orchard", "prairie",
    "quartz", "river",  "sierra", "tundra", "umber", "valley", "willow",  "zephyr"};
constexpr std::string_view kVendors[] = {"Fjellvik", "Ullfjord", "Lysberg", "Kokk & Co", "Nordhav"};

std::string words(Random& rnd, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += rnd.pick(kWords);
  }
  return s;
}

std::string price(Random& rnd) {
  uint32_t cents = 199 + rnd.below(30000);
  return std::to_string(cents / 100) + "." + std::to_string(cents / 10 % 10) + std::to_string(cents % 10);
}

}  // namespace

std::string productRecordsJson(std::size_t bytes) {
  Random rnd;
  std::string json = "{\"products\": [";
  for (int i = 0; json.size() < bytes; ++i) {
    if (i) json += ",\n";
    json += "{\"id\": " + std::to_string(i) + ", \"title\": \"" + words(rnd, 3) + "\", \"vendor\": \"" +
            std::string(rnd.pick(kVendors)) + "\", \"price\": " + price(rnd) + ", \"available\": " +
            (rnd.below(4) ? "true" : "false") + ", \"tags\": [\"" + std::string(rnd.pick(kWords)) + "\", \"" +
            std::string(rnd.pick(kWords)) + "\"], \"description\": \"<p>" + words(rnd, 14) + "</p>\"}";
  }
  return json + "]}";
}

namespace {

Workload outputHeavy() {
  return {"output_heavy",
          "<table>\n{% for p in products %}<tr id=\"p{{ p.id }}\"><td>{{ p.title | capitalize | escape }}</td>"
          "<td>{{ p.vendor | upcase }}</td><td>{{ p.price | times: 1.2 | round: 2 }}</td>"
          "<td>{{ p.tags | join: ', ' }}</td><td>{{ p.description | strip_html | truncate: 60 }}</td></tr>\n"
          "{% endfor %}</table>\n",
          productRecordsJson(100 * 1024)};
}

Workload tagHeavy() {
  Random rnd;
  std::string json = "{\"items\": [";
  for (int i = 0; i < 1000; ++i) {
    if (i) json += ",\n";
    json += "{\"id\": " + std::to_string(i) + ", \"name\": \"" + std::string(rnd.pick(kWords)) +
            "\", \"qty\": " + std::to_string(rnd.below(10)) + ", \"category\": \"" + "abcd"[rnd.below(4)] +
            "\", \"flags\": [\"new\", \"" + (rnd.below(3) ? "shown" : "hidden") + "\", \"sale\"]}";
  }
  json += "], \"templates\": {\"item\": \"<{{ item.id }}:{{ item.name }}{% if item.qty > 5 %}+{% endif %}>\"}}";
  return {"tag_heavy",
          "{% for item in items %}{% if item.qty > 0 %}"
          "{% case item.category %}{% when 'a' %}A{% when 'b' %}B{% else %}C{% endcase %}"
          "{% for f in item.flags %}{% unless f == 'hidden' %}{% cycle 'x', 'y', 'z' %}{% endunless %}{% endfor %}"
          "{% render 'item', item: item %}{% else %}-{% endif %}{% endfor %}\n",
          json};
}

Workload filterHeavy() {
  Random rnd;
  std::string json = "{\"records\": [";
  for (int i = 0; i < 10000; ++i) {
    if (i) json += ",";
    json += "{\"name\": \"" + words(rnd, 2) + "\", \"score\": " + std::to_string(rnd.below(100000)) +
            ", \"active\": " + (rnd.below(2) ? "true" : "false") + "}";
  }
  json += "]}";
  return {"filter_heavy",
          "{% for r in records %}{{ r.name | upcase | replace: 'A', '4' | split: ' ' | reverse | join: '-'"
          " | prepend: '[' | append: ']' | size }},{% endfor %}\n"
          "{{ records | sort: 'score' | where: 'active', true | map: 'name' | join: ',' | size }}\n"
          "{{ records | map: 'name' | sort | uniq | reverse | first }}\n",
          json};
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A catalogue page: a loop over products rendering a card partial (which
// travels in the JSON under "templates") with escape, money arithmetic, a
// comparison, join, truncate and a nested loop over variants.
Workload productPage(int products, const char* file) {
  return {"product_page_" + std::to_string(products), readFile(MERVALT_PRODUCT_PAGE_SOURCE "/page.liquid"),
          readFile(std::string(MERVALT_PRODUCT_PAGE_DATA "/") + file), products};
}

}  // namespace

const std::vector<Workload>& allWorkloads() {
  static const std::vector<Workload> all = {outputHeavy(), tagHeavy(), filterHeavy(),
                                            productPage(200, "products.json"),
                                            productPage(5000, "products_big.json")};
  return all;
}

}  // namespace mervalt::bench
