// digest_filters.cpp: md5 and sha256 in lower-case hex (through libcrypto),
// and base64 encoding and lenient decoding in the standard and URL-safe
// alphabets.
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>

#include <openssl/evp.h>

#include "memory/arena.h"
#include "render/renderer.h"
#include "filters/filters.h"

namespace mervalt {
namespace {

constexpr std::string_view kStandardAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUrlSafeAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// Byte -> index in the alphabet. Bytes outside it (padding included) decode
// as 0: decoding never rejects its input.
using DecodeTable = std::array<uint8_t, 256>;

constexpr DecodeTable makeDecodeTable(std::string_view alphabet) {
  DecodeTable t{};
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    t[static_cast<unsigned char>(alphabet[i])] = static_cast<uint8_t>(i);
  }
  return t;
}

constexpr DecodeTable kStandardDecode = makeDecodeTable(kStandardAlphabet);
constexpr DecodeTable kUrlSafeDecode = makeDecodeTable(kUrlSafeAlphabet);

Value hexDigest(Renderer& r, const Value& in, const EVP_MD* md) {
  std::string_view s = r.display(in);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  static constexpr char kEmpty = 0;
  const void* data = s.empty() ? &kEmpty : s.data();
  // libcrypto fails only when it cannot allocate its context.
  if (md == nullptr || EVP_Digest(data, s.size(), digest, &len, md, nullptr) != 1) {
    throw std::bad_alloc();
  }
  static constexpr char kHex[] = "0123456789abcdef";
  char* out = r.scratch().allocArray<char>(2 * std::size_t{len});
  for (unsigned int i = 0; i < len; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  return Value::string({out, 2 * std::size_t{len}});
}

Value encode(Renderer& r, const Value& in, std::string_view alphabet) {
  std::string_view s = r.display(in);
  std::size_t n = s.size();
  if (n == 0) return Value::string({});
  std::size_t groups = n / 3 + (n % 3 != 0);
  if (groups > SIZE_MAX / 4) throw std::bad_alloc();
  char* out = r.scratch().allocArray<char>(groups * 4);
  auto byte = [&](std::size_t i) -> uint32_t {
    return i < n ? static_cast<unsigned char>(s[i]) : 0;
  };
  for (std::size_t g = 0; g < groups; ++g) {
    uint32_t v = byte(3 * g) << 16 | byte(3 * g + 1) << 8 | byte(3 * g + 2);
    char* w = out + 4 * g;
    w[0] = alphabet[v >> 18 & 63];
    w[1] = alphabet[v >> 12 & 63];
    w[2] = alphabet[v >> 6 & 63];
    w[3] = alphabet[v & 63];
  }
  if (n % 3 != 0) out[groups * 4 - 1] = '=';
  if (n % 3 == 1) out[groups * 4 - 2] = '=';
  return Value::string({out, groups * 4});
}

// Padding count: "==" at the end counts two; a "=" as the last or the
// next-to-last character counts one.
std::size_t paddingOf(std::string_view s) {
  std::size_t n = s.size();
  bool last = s[n - 1] == '=';
  bool beforeLast = n >= 2 && s[n - 2] == '=';
  if (last && beforeLast) return 2;
  return last || beforeLast ? 1 : 0;
}

// Lenient decoding: only whole groups of four count towards the length, and
// the bytes of the final (possibly partial) group fill it up to that length.
Value decode(Renderer& r, const Value& in, const DecodeTable& table) {
  std::string_view s = r.display(in);
  std::size_t n = s.size();
  if (n == 0) return Value::string({});
  std::size_t whole = n / 4 * 3;
  std::size_t pad = paddingOf(s);
  if (whole <= pad) return Value::string({});
  std::size_t m = whole - pad;
  char* out = r.scratch().allocArray<char>(m);
  auto digit = [&](std::size_t i) -> uint32_t {
    return i < n ? table[static_cast<unsigned char>(s[i])] : 0;
  };
  for (std::size_t g = 0; 3 * g < m; ++g) {
    std::size_t i = 4 * g;
    uint32_t v = digit(i) << 18 | digit(i + 1) << 12 | digit(i + 2) << 6 | digit(i + 3);
    for (std::size_t k = 0; k < 3 && 3 * g + k < m; ++k) {
      out[3 * g + k] = static_cast<char>(v >> (16 - 8 * k) & 0xFF);
    }
  }
  return Value::string({out, m});
}

}  // namespace

Value filterMd5(Renderer& r, const Value& in) { return hexDigest(r, in, EVP_md5()); }
Value filterSha256(Renderer& r, const Value& in) { return hexDigest(r, in, EVP_sha256()); }

Value filterBase64Encode(Renderer& r, const Value& in) { return encode(r, in, kStandardAlphabet); }
Value filterBase64Decode(Renderer& r, const Value& in) { return decode(r, in, kStandardDecode); }

Value filterBase64UrlSafeEncode(Renderer& r, const Value& in) {
  return encode(r, in, kUrlSafeAlphabet);
}

Value filterBase64UrlSafeDecode(Renderer& r, const Value& in) {
  return decode(r, in, kUrlSafeDecode);
}

}  // namespace mervalt
