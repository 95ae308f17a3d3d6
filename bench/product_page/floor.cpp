// floor.cpp: the floor of the product-page benchmark. A program written by
// hand for this one page: it parses the JSON text with simdjson's DOM on
// every render (parser made per call) and writes the page with direct
// appends into one buffer reserved up front: no template, no general
// machinery, the page's structure is the code below. It renders the same
// bytes as page.liquid and card.liquid beside it for any document of this
// shape, in any key order; a value of a type the page cannot print stops it
// with an error rather than a wrong page.
#include <emmintrin.h> // SSE2: part of every x86-64
#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <stdexcept>

#include "floor.h"

using namespace simdjson;

namespace bench {
[[noreturn]] void die(const std::string& what) { throw std::runtime_error(what); }
} // namespace bench

namespace {

[[noreturn]] void unsupported(const char* what) { bench::die(std::string("floor: unsupported value for ") + what); }

// The page, appended to one malloc'd buffer that the caller frees, as a host
// frees mervalt's result. It is reserved once per render from the input's
// size; it grows only if that was too small.
class Out {
    char *buf_, *cur_, *end_;

    void grow(size_t n) {
        const size_t used = size(), cap = static_cast<size_t>(end_ - buf_);
        const size_t want = std::max(cap * 2, used + n);
        char* b = static_cast<char*>(std::realloc(buf_, want));
        if (!b) bench::die("floor: out of memory");
        buf_ = b, cur_ = b + used, end_ = b + want;
    }

  public:
    explicit Out(size_t reserve) : buf_(static_cast<char*>(std::malloc(reserve))), cur_(buf_), end_(buf_ + reserve) {
        if (!buf_) bench::die("floor: out of memory");
    }
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    ~Out() { std::free(buf_); }
    size_t size() const { return static_cast<size_t>(cur_ - buf_); }
    const char* data() const { return buf_; }

    // Makes room for n more bytes; the raw writes below rely on it.
    char* room(size_t n) {
        if (static_cast<size_t>(end_ - cur_) < n) grow(n);
        return cur_;
    }
    void put(const char* s, size_t n) {
        std::memcpy(room(n), s, n);
        cur_ += n;
    }
    void put(std::string_view s) { put(s.data(), s.size()); }
    template <size_t N> void lit(const char (&s)[N]) { put(s, N - 1); }

    void uint(uint64_t v) {
        char tmp[20];
        char* p = tmp + sizeof tmp;
        do *--p = static_cast<char>('0' + v % 10); while (v /= 10);
        put(p, static_cast<size_t>(tmp + sizeof tmp - p));
    }

    // Liquid's upcase for ASCII text; it upcases other letters too, which
    // this does not do, so other text stops the floor.
    void upcase(std::string_view s) {
        char* p = room(s.size());
        for (char c : s) {
            if (static_cast<unsigned char>(c) >= 0x80) unsupported("upcase (text not ASCII)");
            *p++ = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        }
        cur_ = p;
    }

    // Liquid's escape: & < > " ' become &amp; &lt; &gt; &quot; &#39;.
    // Scans 16 bytes at a time and copies them as they are when none needs it.
    void escaped(std::string_view s) {
        const char* src = s.data();
        const size_t n = s.size();
        char* p = room(6 * n + 16); // each byte becomes at most 6; the 16-byte stores may overshoot
        size_t i = 0;
        const __m128i amp = _mm_set1_epi8('&'), lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'),
                      quot = _mm_set1_epi8('"'), apos = _mm_set1_epi8('\'');
        for (;;) {
            while (i + 16 <= n) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
                const __m128i hit = _mm_or_si128(
                    _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, amp), _mm_cmpeq_epi8(v, lt)), _mm_cmpeq_epi8(v, gt)),
                    _mm_or_si128(_mm_cmpeq_epi8(v, quot), _mm_cmpeq_epi8(v, apos)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
                const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
                if (mask == 0) {
                    p += 16, i += 16;
                    continue;
                }
                const unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
                p += k, i += k;
                break;
            }
            if (i == n) break;
            const char c = src[i++];
            switch (c) {
            case '&': std::memcpy(p, "&amp;", 5), p += 5; break;
            case '<': std::memcpy(p, "&lt;", 4), p += 4; break;
            case '>': std::memcpy(p, "&gt;", 4), p += 4; break;
            case '"': std::memcpy(p, "&quot;", 6), p += 6; break;
            case '\'': std::memcpy(p, "&#39;", 5), p += 5; break;
            default: *p++ = c;
            }
            // Fewer than 16 bytes left: one at a time.
            if (n - i < 16) {
                while (i < n) {
                    const char d = src[i++];
                    switch (d) {
                    case '&': std::memcpy(p, "&amp;", 5), p += 5; break;
                    case '<': std::memcpy(p, "&lt;", 4), p += 4; break;
                    case '>': std::memcpy(p, "&gt;", 4), p += 4; break;
                    case '"': std::memcpy(p, "&quot;", 6), p += 6; break;
                    case '\'': std::memcpy(p, "&#39;", 5), p += 5; break;
                    default: *p++ = d;
                    }
                }
                break;
            }
        }
        cur_ = p;
    }

    // A finite double as the page prints it: shortest round trip, "12.0" for
    // whole numbers, exponent form below 1e-4 and from 1e16 on.
    void float_repr(double x) {
        if (!std::isfinite(x)) unsupported("a price (not finite)");
        char sci[32];
        const auto r = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific);
        const char* e = static_cast<const char*>(std::memchr(sci, 'e', static_cast<size_t>(r.ptr - sci)));
        int exp = 0;
        std::from_chars(e + 1 + (e[1] == '+'), r.ptr, exp);
        char digits[20];
        size_t nd = 0;
        const char* s = sci;
        if (*s == '-') lit("-"), s++;
        for (; s < e; s++)
            if (*s != '.') digits[nd++] = *s;
        if (exp < -4 || exp >= 16) {
            put(digits, 1);
            if (nd > 1) lit("."), put(digits + 1, nd - 1);
            lit("e"), lit(exp < 0 ? "-" : "+");
            const int a = exp < 0 ? -exp : exp;
            if (a < 10) lit("0");
            uint(static_cast<uint64_t>(a));
        } else if (exp < 0) {
            lit("0.");
            for (int z = -1; z > exp; z--) lit("0");
            put(digits, nd);
        } else {
            const size_t whole = static_cast<size_t>(exp) + 1;
            if (nd <= whole) {
                put(digits, nd);
                for (size_t z = nd; z < whole; z++) lit("0");
                lit(".0");
            } else {
                put(digits, whole), lit("."), put(digits + whole, nd - whole);
            }
        }
    }

    // {{ cents | divided_by: 100.0 | round: 2 }} for an integer: the float
    // cents / 100.0 rounded to two places prints as the decimal cents / 100
    // without trailing zeros ("153.77", "12.5", "12.0"), exactly, while it
    // has at most 15 significant digits.
    void money(int64_t cents) {
        if (cents <= -1000000000000000 || cents >= 1000000000000000) return money(static_cast<double>(cents));
        uint64_t u = static_cast<uint64_t>(cents < 0 ? -cents : cents);
        if (cents < 0) lit("-");
        uint(u / 100);
        const unsigned frac = static_cast<unsigned>(u % 100);
        char* p = room(3);
        *p++ = '.';
        *p++ = static_cast<char>('0' + frac / 10);
        if (frac % 10) *p++ = static_cast<char>('0' + frac % 10);
        cur_ = p;
    }
    // The same for a float: round to two places as Python's round() does
    // (correctly rounded, from the exact binary value), then print.
    void money(double cents) {
        const double x = cents / 100.0;
        if (!std::isfinite(x)) unsupported("a price (not finite)");
        char fixed[400];
        const auto r = std::to_chars(fixed, fixed + sizeof fixed, x, std::chars_format::fixed, 2);
        double rounded = 0;
        std::from_chars(fixed, r.ptr, rounded);
        float_repr(rounded);
    }
};

// Liquid's truncate: 120 on text of up to 120 characters keeps it, on longer
// text keeps the first 117 characters and appends "...". Characters are code
// points; a run of ASCII is counted a byte at a time.
struct Truncated {
    std::string_view head;
    bool cut;
};
Truncated truncate_120(std::string_view s) {
    constexpr size_t n = 120, keep = 117;
    if (s.size() <= n) return {s, false}; // never more characters than bytes
    if (s.size() >= 128) { // the first 128 bytes all ASCII: more than 120 characters
        __m128i high = _mm_setzero_si128();
        for (size_t i = 0; i < 128; i += 16)
            high = _mm_or_si128(high, _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i)));
        if (_mm_movemask_epi8(high) == 0) return {s.substr(0, keep), true};
    }
    size_t chars = 0, cut = s.size();
    for (size_t i = 0; i < s.size(); i++) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue; // UTF-8 continuation byte
        if (chars == keep) cut = i;
        if (++chars > n) return {s.substr(0, cut), true};
    }
    return {s, false};
}

// A number as Liquid sees it: absent or null (nil), an integer, or a float.
struct Num {
    enum Kind { Nil, Int, Float } kind = Nil;
    int64_t i = 0;
    double d = 0;
    double as_double() const { return kind == Int ? static_cast<double>(i) : d; }
};
// {% if a > b %}: nil compares false.
bool greater(const Num& a, const Num& b) {
    if (a.kind == Num::Nil || b.kind == Num::Nil) return false;
    if (a.kind == Num::Int && b.kind == Num::Int) return a.i > b.i;
    return a.as_double() > b.as_double();
}
void put_money(Out& out, const Num& n) {
    if (n.kind == Num::Int) out.money(n.i);
    else if (n.kind == Num::Float) out.money(n.d);
    // every generated product has its prices; a nil one stops the floor
    else unsupported("a price (nil)");
}

// The card's fields that come before its lists.
struct Card {
    std::string_view title, handle, vendor;
    Num price, compare_at_price;
    bool available = false; // nil and false are falsy, everything else truthy
};

// Everything of page.liquid before the card's tags.
void card_head(Out& out, size_t index, const Card& c) {
    out.lit("<li class=\"");
    if (index % 2) out.lit("even");
    else out.lit("odd");
    out.lit("\" id=\"p");
    out.uint(index + 1);
    out.lit("\">\n<article class=\"card\" data-handle=\"");
    out.put(c.handle);
    out.lit("\">\n<h2>");
    out.escaped(c.title);
    out.lit("</h2>\n<p class=\"vendor\">");
    out.put(c.vendor);
    out.lit("</p>\n<span class=\"price\">$");
    put_money(out, c.price);
    out.lit("</span>\n");
    if (greater(c.compare_at_price, c.price)) {
        out.lit("<s class=\"was\">$");
        put_money(out, c.compare_at_price);
        out.lit("</s>\n");
    }
    if (!c.available) out.lit("<b class=\"soldout\">Sold out</b>\n");
    out.lit("<p class=\"tags\">");
}

void card_description(Out& out, std::string_view description) {
    out.lit("</p>\n<p class=\"desc\">");
    const Truncated t = truncate_120(description);
    out.escaped(t.head);
    if (t.cut) out.lit("...");
    out.lit("</p>\n<ol class=\"variants\">");
}

void variant(Out& out, size_t index, std::string_view title, const Num& price) {
    out.lit("<li>");
    out.uint(index + 1);
    out.lit(". ");
    out.put(title);
    out.lit(" $");
    put_money(out, price);
    out.lit("</li>");
}

void page_head(Out& out, std::string_view shop_name) {
    out.lit("<!doctype html>\n<html><head><title>");
    out.put(shop_name);
    out.lit("</title></head><body>\n<h1>");
    out.upcase(shop_name);
    out.lit("</h1>\n<ul class=\"products\">\n");
}

void page_tail(Out& out, size_t products, std::string_view currency) {
    out.lit("</ul>\n<footer>");
    out.uint(products);
    out.lit(" products, prices in ");
    out.put(currency);
    out.lit("</footer>\n</body></html>\n");
}

// The card partial ends with a newline; the page then closes the item.
constexpr char kCardEnd[] = "</ol>\n</article>\n</li>\n";

// The output is about 0.8 times the JSON here; reserving 1.5 times plus a
// page's worth of markup covers documents with shorter texts too.
size_t reserve_for(size_t json_len) { return json_len + json_len / 2 + 4096; }

// ---- DOM (what floor cold and warm use): the whole document is parsed into
// simdjson's tape first, then read ------------------------------------------

namespace dom_api {

std::string_view string_or_nil(dom::element e, const char* what) {
    if (e.is_null()) return {};
    std::string_view s;
    if (e.get_string().get(s)) unsupported(what);
    return s;
}

Num number(dom::element e, const char* what) {
    Num n;
    switch (e.type()) {
    case dom::element_type::NULL_VALUE: break;
    case dom::element_type::INT64: n.kind = Num::Int, n.i = e.get_int64().value_unsafe(); break;
    case dom::element_type::UINT64: n.kind = Num::Float, n.d = static_cast<double>(e.get_uint64().value_unsafe()); break;
    case dom::element_type::DOUBLE: n.kind = Num::Float, n.d = e.get_double().value_unsafe(); break;
    default: unsupported(what);
    }
    return n;
}

template <class F> void each(dom::element e, const char* what, F fn) {
    if (e.is_null()) return;
    dom::array a;
    if (e.get_array().get(a)) unsupported(what);
    size_t i = 0;
    for (dom::element x : a) fn(i++, x);
}

size_t render(dom::parser& parser, const padded_string& json, Out& out) {
    dom::element root = parser.parse(json);
    dom::object shop = root["shop"];
    page_head(out, string_or_nil(shop["name"], "shop.name"));
    size_t count = 0;
    for (dom::object p : root["products"].get_array()) {
        // One pass over the fields, in whatever order they come.
        Card c;
        std::string_view description;
        dom::element tags, variants;
        bool has_tags = false, has_variants = false;
        for (dom::key_value_pair f : p) {
            const std::string_view k = f.key;
            switch (k.size()) { // the keys the card reads; others (id, rating) are skipped
            case 4:
                if (k == "tags") tags = f.value, has_tags = true;
                break;
            case 5:
                if (k == "title") c.title = string_or_nil(f.value, "title");
                else if (k == "price") c.price = number(f.value, "price");
                break;
            case 6:
                if (k == "handle") c.handle = string_or_nil(f.value, "handle");
                else if (k == "vendor") c.vendor = string_or_nil(f.value, "vendor");
                break;
            case 8:
                if (k == "variants") variants = f.value, has_variants = true;
                break;
            case 9:
                if (k == "available") {
                    bool b;
                    c.available = f.value.get_bool().get(b) == SUCCESS ? b : !f.value.is_null();
                }
                break;
            case 11:
                if (k == "description") description = string_or_nil(f.value, "description");
                break;
            case 16:
                if (k == "compare_at_price") c.compare_at_price = number(f.value, "compare_at_price");
                break;
            }
        }
        card_head(out, count, c);
        if (has_tags) each(tags, "tags", [&](size_t i, dom::element tag) {
            if (i) out.lit(", ");
            out.put(tag.get_string().value());
        });
        card_description(out, description);
        if (has_variants) each(variants, "variants", [&](size_t i, dom::element v) {
            dom::object vo = v.get_object();
            std::string_view title;
            Num price;
            for (dom::key_value_pair f : vo) {
                if (f.key == "title") title = string_or_nil(f.value, "variant title");
                else if (f.key == "price") price = number(f.value, "variant price");
            }
            variant(out, i, title, price);
        });
        out.lit(kCardEnd);
        count++;
    }
    page_tail(out, count, string_or_nil(shop["currency"], "shop.currency"));
    return out.size();
}

} // namespace dom_api

// One render; the page is freed at once, as a host frees mervalt's result.
size_t render_dom(dom::parser& parser, const padded_string& json) {
    Out out(reserve_for(json.size()));
    return dom_api::render(parser, json, out);
}
} // namespace

std::size_t renderProductPageFloor(const simdjson::padded_string& json) {
    dom::parser parser; // made (and its buffers allocated) per render, as a call does
    return render_dom(parser, json);
}
