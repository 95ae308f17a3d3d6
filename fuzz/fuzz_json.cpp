// fuzz_json.cpp: arbitrary JSON bytes under a fixed template that reads the data every way it can.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "mervalt.h"

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
  char* out = nullptr;
  std::size_t outLen = 0;
  if (mervalt_render_json(kTemplate, sizeof kTemplate - 1, reinterpret_cast<const char*>(data), size, &out,
                          &outLen) == 0)
    mervalt_free(out, outLen);
  return 0;
}
