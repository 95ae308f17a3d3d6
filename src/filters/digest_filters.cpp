// digest_filters.cpp: placeholder until the family is written.
#include "filters.h"

namespace mervalt {

Value filterMd5(Renderer&, const Value& in) { return in; }
Value filterSha256(Renderer&, const Value& in) { return in; }
Value filterBase64Encode(Renderer&, const Value& in) { return in; }
Value filterBase64Decode(Renderer&, const Value& in) { return in; }
Value filterBase64UrlSafeEncode(Renderer&, const Value& in) { return in; }
Value filterBase64UrlSafeDecode(Renderer&, const Value& in) { return in; }

}  // namespace mervalt
