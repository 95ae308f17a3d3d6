// display_text.cpp: placeholder.
#include "display_text.h"
#include "arena.h"
#include "output.h"
#include <string>
namespace mervalt {
template <class Sink> void appendInteger(Sink& out, int64_t i) { out.append(std::to_string(i)); }
template <class Sink> void appendFloat(Sink& out, double f) { out.append(std::to_string(f)); }
template <class Sink> void appendDisplay(Sink& out, const Value& v) {
  switch (v.kind()) {
    case Kind::Integer: appendInteger(out, v.asInt()); break;
    case Kind::Float: appendFloat(out, v.asFloat()); break;
    case Kind::String: case Kind::Error: case Kind::BooleanDrop: out.append(v.str()); break;
    case Kind::Boolean: out.append(v.asBool() ? "true" : "false"); break;
    default: break;
  }
}
template void appendDisplay<OutputBuffer>(OutputBuffer&, const Value&);
template void appendDisplay<std::pmr::string>(std::pmr::string&, const Value&);
std::string_view toString(const Value& v, Arena& arena) {
  if (v.is(Kind::String) || v.is(Kind::Error) || v.is(Kind::BooleanDrop)) return v.str();
  std::pmr::string s(arena.resource());
  appendDisplay(s, v);
  return arena.copy(s);
}
}  // namespace mervalt
