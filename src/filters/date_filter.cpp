// date_filter.cpp: the date filter, UTC timestamps and English date texts
// formatted with a small fixed set of strftime-like directives.
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "memory/arena.h"
#include "render/renderer.h"
#include "filters/dispatch.h"
#include "filters/filters.h"

namespace mervalt {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysPer400Years = 146097;  // the Gregorian calendar repeats after this
constexpr int64_t kMaxYear = 65535;            // years are held in 16 bits

constexpr std::array<std::string_view, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};
constexpr std::array<std::string_view, 12> kMonthAbbreviations = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Days before the first of each month in a common year.
constexpr std::array<int64_t, 12> kDaysBeforeMonth = {0,   31,  59,  90,  120, 151,
                                                      181, 212, 243, 273, 304, 334};
static_assert(kDaysBeforeMonth[11] + 31 == 365);

bool isLeapYear(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

// Leap years in [1, y - 1], for y >= 1.
int64_t leapYearsBefore(int64_t y) { return (y - 1) / 4 - (y - 1) / 100 + (y - 1) / 400; }

// Days from 1970-01-01 to January 1 of year y; 0 for years before 1970.
int64_t daysBeforeYear(int64_t y) {
  if (y <= 1970) return 0;
  return 365 * (y - 1970) + leapYearsBefore(y) - leapYearsBefore(1970);
}

struct BrokenDownTime {
  int64_t year;
  unsigned month, day, hour, minute, second;
};

// UTC calendar fields of a non-negative timestamp, or nothing when the year
// would pass 65535. Whole 400-year cycles are split off first so that the
// calendar conversion stays inside the range of std::chrono::year.
std::optional<BrokenDownTime> breakDown(int64_t t) {
  using namespace std::chrono;
  int64_t days = t / kSecondsPerDay;
  int64_t secs = t % kSecondsPerDay;
  int64_t cycles = days / kDaysPer400Years;
  year_month_day ymd{sys_days{std::chrono::days{days % kDaysPer400Years}}};
  int64_t year = int64_t{static_cast<int>(ymd.year())} + 400 * cycles;
  if (year > kMaxYear) return std::nullopt;
  return BrokenDownTime{year,
                        static_cast<unsigned>(ymd.month()),
                        static_cast<unsigned>(ymd.day()),
                        static_cast<unsigned>(secs / 3600),
                        static_cast<unsigned>(secs % 3600 / 60),
                        static_cast<unsigned>(secs % 60)};
}

// Reads a whole decimal token into [lo, hi].
std::optional<int64_t> readRanged(std::string_view token, int64_t lo, int64_t hi) {
  std::optional<int64_t> v = readWholeInteger(token);
  if (!v || *v < lo || *v > hi) return std::nullopt;
  return v;
}

// "Month day[,] year[ anything]" with a full English month name, read as
// midnight UTC of that day. The day is not checked against the month.
std::optional<int64_t> parseDateStringToTimestamp(std::string_view s) {
  std::size_t month = 0;
  while (month < kMonthNames.size() && !s.starts_with(kMonthNames[month])) ++month;
  if (month == kMonthNames.size()) return std::nullopt;

  std::size_t daySpace = s.find(' ');
  if (daySpace == std::string_view::npos) return std::nullopt;
  std::size_t yearSpace = s.find(' ', daySpace + 1);
  if (yearSpace == std::string_view::npos) return std::nullopt;
  std::string_view dayToken = s.substr(daySpace + 1, yearSpace - daySpace - 1);
  if (dayToken.ends_with(',')) dayToken.remove_suffix(1);
  if (dayToken.starts_with('-')) return std::nullopt;  // the day is unsigned
  std::optional<int64_t> day = readRanged(dayToken, 0, 255);
  if (!day) return std::nullopt;

  std::string_view yearToken = s.substr(yearSpace + 1);
  yearToken = yearToken.substr(0, yearToken.find(' '));
  std::optional<int64_t> year = readRanged(yearToken, INT32_MIN, INT32_MAX);
  if (!year) return std::nullopt;

  int64_t days = daysBeforeYear(*year) + kDaysBeforeMonth[month] +
                 (month >= 2 && isLeapYear(*year) ? 1 : 0) + *day - 1;
  return days * kSecondsPerDay;
}

std::optional<int64_t> timestampOf(const Value& in) {
  if (in.is(Kind::Integer)) return in.asInt();
  if (!in.is(Kind::String)) return std::nullopt;
  if (std::optional<int64_t> t = readWholeInteger(in.str())) return t;
  return parseDateStringToTimestamp(in.str());
}

void appendNumber(std::pmr::string& out, int64_t v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

void appendTwoDigits(std::pmr::string& out, unsigned v, char pad) {
  out.push_back(v < 10 ? pad : static_cast<char>('0' + v / 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

// Writes one directive; unknown directives write nothing.
void appendDirective(std::pmr::string& out, char d, const BrokenDownTime& tm, int64_t t) {
  switch (d) {
    case 'Y': appendNumber(out, tm.year); break;
    case 'y': appendTwoDigits(out, static_cast<unsigned>(tm.year % 100), '0'); break;
    case 'm': appendTwoDigits(out, tm.month, '0'); break;
    case 'd': appendTwoDigits(out, tm.day, '0'); break;
    case 'e': appendTwoDigits(out, tm.day, ' '); break;
    case 'H': appendTwoDigits(out, tm.hour, '0'); break;
    case 'M': appendTwoDigits(out, tm.minute, '0'); break;
    case 'S': appendTwoDigits(out, tm.second, '0'); break;
    case 'b': out.append(kMonthAbbreviations[tm.month - 1]); break;
    case 'a': out.append("Mon"); break;  // a fixed text, not the weekday
    case 's': appendNumber(out, t); break;
    case '%': out.push_back('%'); break;
    default: break;
  }
}

}  // namespace

Value filterDate(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return Value::nil();
  Value formatArg = evalArg(r, args, 0);
  if (formatArg.isNil()) return in;
  std::string_view format = r.display(formatArg);
  if (format.empty()) return in;

  std::optional<int64_t> t = timestampOf(in);
  if (!t || *t < 0) return in;
  std::optional<BrokenDownTime> tm = breakDown(*t);
  if (!tm) return in;

  std::pmr::string& out = newText(r.scratch());
  out.reserve(format.size() * 2);
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out.push_back(format[i]);
    } else if (i + 1 == format.size()) {
      out.push_back('%');
    } else {
      appendDirective(out, format[++i], *tm, *t);
    }
  }
  return Value::string(out);
}

}  // namespace mervalt
