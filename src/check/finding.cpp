// finding.cpp: the names and severities of the checker's codes.
#include "check/finding.h"

#include <array>

namespace mervalt::check {
namespace {

struct CodeInfo {
  std::string_view name;
  Severity severity;
};

// ORDER CheckCode
constexpr std::array<CodeInfo, kCheckCodeCount> kCodes{{
    {"syntax", Severity::Error},
    {"unknown-filter", Severity::Warning},
    {"filter-arguments", Severity::Warning},
    {"missing-partial", Severity::Warning},
    {"undefined-variable", Severity::Warning},
    {"unused-assign", Severity::Warning},
    {"invalid-operator", Severity::Warning},
    {"unreachable-branch", Severity::Warning},
}};

}  // namespace

std::string_view codeName(CheckCode c) { return kCodes[static_cast<std::size_t>(c)].name; }

Severity severityOf(CheckCode c) { return kCodes[static_cast<std::size_t>(c)].severity; }

std::optional<CheckCode> codeNamed(std::string_view name) {
  for (std::size_t i = 0; i < kCodes.size(); ++i)
    if (kCodes[i].name == name) return static_cast<CheckCode>(i);
  return std::nullopt;
}

std::string_view severityName(Severity s) { return s == Severity::Error ? "error" : "warning"; }

}  // namespace mervalt::check
