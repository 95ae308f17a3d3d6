// finding.h: what the template checker reports: the codes it knows, their
// severities, and one finding with its place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "parse/node.h"

namespace mervalt::check {

// Grep "ORDER CheckCode" for the table of names that follows this order.
enum class CheckCode : uint8_t {
  Syntax,
  UnknownFilter,
  FilterArguments,
  MissingPartial,
  UndefinedVariable,
  UnusedAssign,
  InvalidOperator,
  UnreachableBranch,
};
inline constexpr std::size_t kCheckCodeCount = 8;

enum class Severity : uint8_t { Warning, Error };

// A set of codes, one bit each.
using CodeSet = uint32_t;
inline CodeSet codeBit(CheckCode c) { return CodeSet{1} << static_cast<unsigned>(c); }

std::string_view codeName(CheckCode c);
std::optional<CheckCode> codeNamed(std::string_view name);
Severity severityOf(CheckCode c);
std::string_view severityName(Severity s);

// One finding. `partial` names the partial it is in ("" for the template
// checked); `file` is that partial's file when it was read from one.
struct Finding {
  CheckCode code;
  SourcePosition at;
  std::string message;
  std::string suggestion;  // "" when there is none
  std::string partial;
  std::string file;
};

}  // namespace mervalt::check
