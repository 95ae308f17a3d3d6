// json_text.h: a text written as a JSON string, for the JSON the tools and
// the checker write by hand.
#pragma once

#include <string>
#include <string_view>

namespace mervalt {

// `s` as a JSON string, quotes included, appended to `out`: quotes,
// backslashes and control characters escaped, and every byte that is not part
// of valid UTF-8 written as U+FFFD.
void appendJsonString(std::string& out, std::string_view s);

}  // namespace mervalt
