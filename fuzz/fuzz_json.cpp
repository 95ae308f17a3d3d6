// fuzz_json.cpp: arbitrary JSON bytes under a fixed template that reads the data every way it can.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"

namespace {

const char kTemplate[] =
    "{{ a }}|{{ a.b }}|{{ a[0] }}|{{ size }}|{{ first }}|{{ last }}|{{ a | json }}|{{ a | size }}\n"
    "{% for x in a %}{{ x }}:{{ x | json }}:{{ forloop.index }}{% endfor %}\n"
    "{% for k in a.b limit: 3 offset: 1 %}{{ k | first }}{% endfor %}\n"
    "{% if a == b %}eq{% elsif a contains 'x' %}has{% endif %}\n"
    "{{ a | sort | join: ',' }}{{ a | map: 'k' | compact | uniq }}{{ a | where: 'k' }}{{ a | sum }}\n"
    "{{ a | first | plus: 1 }}{{ a | date: '%Y' }}{{ b | escape }}{{ b | default: 'none' }}\n"
    "{% include 't' %}{% render 't' with a as v %}{% render 't' for a %}\n"
    "{% tablerow x in b cols: 2 %}{{ x }}{% endtablerow %}{% cycle a, b %}";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Rendered twice like fuzz_render's inputs, so that reading the document
  // is checked for depending on nothing else either.
  mervalt::fuzzing::checkRender({kTemplate, sizeof kTemplate - 1}, {reinterpret_cast<const char*>(data), size});
  return 0;
}
