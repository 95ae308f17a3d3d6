// cli_report.cpp: the lines the tool writes to standard error about a render
// that failed and about data it cannot read.
#include "cli_report.h"

#include <new>
#include <stdexcept>

#include "parse/parser.h"
#include "render_limits.h"

namespace mervalt::cli {
namespace {

std::string position(uint32_t line, uint32_t column) {
  return std::to_string(line) + ":" + std::to_string(column);
}

std::string describeParseError(const Sources& sources, const ParseError& e) {
  std::string where = position(e.line, e.column);
  if (e.partial.empty()) return sources.templateName + ":" + where + ": error: " + e.what();
  auto file = sources.partialFiles.find(e.partial);
  if (file != sources.partialFiles.end())
    return file->second + ":" + where + ": error: " + e.what() + " (partial '" + e.partial + "' of " +
           sources.templateName + ")";
  return sources.templateName + ": in partial '" + e.partial + "' " + where + ": error: " + e.what();
}

// The reason of the exception being handled, for the failures every render
// shares: a bound, exhausted memory, anything else.
std::string describeRenderLimitOrFault() {
  try {
    throw;
  } catch (const LimitExceeded& e) {
    return describeLimit(e);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& e) {
    return std::string("the template could not be rendered: ") + e.what();
  } catch (...) {
    return "the template could not be rendered";
  }
}

}  // namespace

std::string describeRenderFailure(const Sources& sources) {
  try {
    throw;
  } catch (const ParseError& e) {
    return describeParseError(sources, e);
  } catch (...) {
    return "mervalt: " + sources.templateName + ": " + describeRenderLimitOrFault();
  }
}

std::string describeRecordFailure(const std::string& recordsName, uint64_t line) {
  std::string about = recordsName + ":" + std::to_string(line) + ": error: ";
  try {
    throw;
  } catch (const DataError& e) {
    return recordsName + ":" + std::to_string(line) + ":" + std::to_string(e.problem.column) + ": error: " +
           e.problem.message;
  } catch (const ParseError& e) {
    // Only the data's partials are parsed during a render.
    return about + "in partial '" + e.partial + "' " + position(e.line, e.column) + ": " + e.what();
  } catch (...) {
    return about + describeRenderLimitOrFault();
  }
}

std::string describeDataProblem(const std::string& dataName, const JsonProblem& problem, bool strict) {
  std::string head = dataName + ":" + position(problem.line, problem.column);
  if (strict) return head + ": error: " + problem.message;
  return head + ": warning: " + problem.message + "; rendering without data";
}

}  // namespace mervalt::cli
