// math_filters.cpp: abs, plus, minus, times, divided_by, modulo, ceil, floor,
// round, at_most and at_least.
//
// Arithmetic runs in double precision even for two integers; each filter then
// decides whether the result is an integer or a float. Nothing here fails
// except evaluating an argument: division by zero and non-numbers give fixed
// results.
#include <cmath>
#include <cstdint>
#include <limits>

#include "filters/dispatch.h"
#include "filters/filters.h"

namespace mervalt {
namespace {

// Infinities count as whole, NaN does not.
bool isWhole(double x) { return std::floor(x) == x; }

// A float, or a string with a '.' anywhere, forces a float result.
bool isFloatLooking(const Value& v) {
  if (v.is(Kind::Float)) return true;
  return v.is(Kind::String) && v.str().find('.') != std::string_view::npos;
}

Value wholeOrFloat(double x) {
  return isWhole(x) ? Value::integer(truncateToInt64(x)) : Value::floating(x);
}

// plus, minus and times differ only in the operator.
template <class Op>
Value arithmetic(Renderer& r, const Value& in, Args args, Op op) {
  if (!hasArg(args, 0)) return in;
  Value arg = evalArg(r, args, 0);
  double result = op(toNumber(in), toNumber(arg));
  if (isFloatLooking(in) || isFloatLooking(arg)) return Value::floating(result);
  return wholeOrFloat(result);
}

// A string read strictly as a float, else nothing.
std::optional<double> strictFloat(const Value& v) {
  if (!v.is(Kind::String)) return std::nullopt;
  return readWholeFloat(v.str());
}

// Rounded value of a float-like input for ceil and floor.
template <class RoundFn>
Value roundToInteger(const Value& in, RoundFn fn) {
  switch (in.kind()) {
    case Kind::Integer: return in;
    case Kind::Float: return Value::integer(truncateToInt64(fn(in.asFloat())));
    case Kind::String: {
      auto x = strictFloat(in);
      return Value::integer(x ? truncateToInt64(fn(*x)) : 0);
    }
    case Kind::Nil:
    case Kind::Boolean:
    case Kind::Array:
    case Kind::Object:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return Value::integer(0);
  }
  return Value::integer(0);
}

// The digit count of round: strings read strictly into 32 bits, floats
// truncate and saturate, integers keep their low 32 bits.
int32_t roundDigits(const Value& v) {
  switch (v.kind()) {
    case Kind::String: {
      auto i = readWholeInteger(v.str());
      if (!i || *i < INT32_MIN || *i > INT32_MAX) return 0;
      return static_cast<int32_t>(*i);
    }
    case Kind::Float: {
      double x = v.asFloat();
      if (std::isnan(x)) return 0;
      if (x >= 2147483647.0) return INT32_MAX;
      if (x <= -2147483648.0) return INT32_MIN;
      return static_cast<int32_t>(x);
    }
    case Kind::Integer:
      return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v.asInt())));
    case Kind::Nil:
    case Kind::Boolean:
    case Kind::Array:
    case Kind::Object:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return 0;
  }
  return 0;
}

double roundInput(const Value& v) {
  if (v.is(Kind::Integer)) return static_cast<double>(v.asInt());
  if (v.is(Kind::Float)) return v.asFloat();
  return strictFloat(v).value_or(0.0);
}

// The value `a` itself when it is a number, else m as an integer; at_least
// answers with this when the input has no number of its own.
Value argumentOrInteger(const Value& a, double m) {
  if (a.isNumber()) return a;
  return Value::integer(truncateToInt64(m));
}

}  // namespace

Value filterPlus(Renderer& r, const Value& in, Args args) {
  return arithmetic(r, in, args, [](double a, double b) { return a + b; });
}

Value filterMinus(Renderer& r, const Value& in, Args args) {
  return arithmetic(r, in, args, [](double a, double b) { return a - b; });
}

Value filterTimes(Renderer& r, const Value& in, Args args) {
  return arithmetic(r, in, args, [](double a, double b) { return a * b; });
}

Value filterDividedBy(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value arg = evalArg(r, args, 0);
  double d = toNumber(arg);
  double n = toNumber(in);
  if (d == 0) return Value::integer(0);
  if (isFloatLooking(in) || isFloatLooking(arg)) return Value::floating(n / d);
  int64_t ni = truncateToInt64(n);
  int64_t di = truncateToInt64(d);
  // A fractional divisor written without '.' (such as "5e-1") truncates to 0.
  if (di == 0) return Value::integer(0);
  if (ni == INT64_MIN && di == -1) return Value::integer(INT64_MIN);
  return Value::integer(ni / di);
}

Value filterModulo(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value arg = evalArg(r, args, 0);
  double d = toNumber(arg);
  double n = toNumber(in);
  if (d == 0) return Value::integer(0);
  double m = std::fmod(n, d);
  // The result takes the sign of the divisor for a negative dividend.
  double result = n < 0 ? std::fmod(d + m, d) : m;
  if (isFloatLooking(in) || isFloatLooking(arg)) return Value::floating(result);
  return wholeOrFloat(result);
}

Value filterAbs(Renderer&, const Value& in) {
  switch (in.kind()) {
    case Kind::Integer:
      return in.asInt() == INT64_MIN ? in
                                     : Value::integer(in.asInt() < 0 ? -in.asInt() : in.asInt());
    case Kind::Float: return Value::floating(std::fabs(in.asFloat()));
    case Kind::String: {
      if (auto i = readWholeInteger(in.str())) {
        return Value::integer(*i == INT64_MIN || *i >= 0 ? *i : -*i);
      }
      if (auto f = readWholeFloat(in.str())) return Value::floating(std::fabs(*f));
      return Value::integer(0);
    }
    case Kind::Nil:
    case Kind::Boolean:
    case Kind::Array:
    case Kind::Object:
    case Kind::Empty:
    case Kind::Blank:
    case Kind::Range:
    case Kind::Error:
    case Kind::BooleanDrop: return Value::integer(0);
  }
  return Value::integer(0);
}

Value filterCeil(Renderer&, const Value& in) {
  return roundToInteger(in, [](double x) { return std::ceil(x); });
}

Value filterFloor(Renderer&, const Value& in) {
  return roundToInteger(in, [](double x) { return std::floor(x); });
}

namespace {

// 10 to the power k; exact table values for the small counts that templates use.
double powerOfTen(double k) {
  static constexpr double kTable[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (k >= 0 && k <= 22) return kTable[static_cast<int>(k)];
  return std::pow(10.0, k);
}

}  // namespace

Value filterRound(Renderer& r, const Value& in, Args args) {
  int32_t k = hasArg(args, 0) ? roundDigits(evalArg(r, args, 0)) : 0;
  if (in.isNil()) return Value::integer(0);
  double x = roundInput(in);
  if (k > 0) {
    double p = powerOfTen(k);
    return Value::floating(std::round(x * p) / p);
  }
  if (k == 0) return Value::integer(truncateToInt64(std::round(x)));
  double p = powerOfTen(-static_cast<double>(k));
  return Value::integer(truncateToInt64(p * std::round(x / p)));
}

Value filterAtMost(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value a = evalArg(r, args, 0);
  double n = toNumber(in);
  double m = toNumber(a);
  auto kindOfArg = [&](double x) {
    return a.is(Kind::Integer) ? Value::integer(truncateToInt64(x)) : Value::floating(x);
  };
  if (in.is(Kind::String)) {
    if (!strictFloat(in)) return kindOfArg(std::fmin(m, 0));
    if (n <= m) return in;
  } else if (in.isNil()) {
    return kindOfArg(std::fmin(m, 0));
  } else if (a.isNil()) {
    double x = std::fmin(n, 0);
    return in.is(Kind::Integer) ? Value::integer(truncateToInt64(x)) : Value::floating(x);
  }
  double x = std::fmin(n, m);
  if (in.is(Kind::Integer) && a.is(Kind::Integer)) return Value::integer(truncateToInt64(x));
  if (a.is(Kind::Integer) && x == m) return Value::integer(truncateToInt64(x));
  return Value::floating(x);
}

Value filterAtLeast(Renderer& r, const Value& in, Args args) {
  if (!hasArg(args, 0)) return in;
  Value a = evalArg(r, args, 0);
  double n = toNumber(in);
  double m = toNumber(a);
  if (in.is(Kind::String)) {
    if (!strictFloat(in)) return m <= 0 ? Value::integer(0) : argumentOrInteger(a, m);
    if (n >= m) return in;
  } else if (in.isNil()) {
    return m < 0 ? Value::integer(0) : argumentOrInteger(a, m);
  }
  double x = std::fmax(n, m);
  bool intIn = in.is(Kind::Integer);
  if (intIn && (a.is(Kind::Integer) || a.isNil())) return Value::integer(truncateToInt64(x));
  if (intIn && isWhole(x)) return Value::integer(truncateToInt64(x));
  if (a.is(Kind::Integer) && x == m) return Value::integer(truncateToInt64(x));
  return Value::floating(x);
}

}  // namespace mervalt
