// cli_report.cpp: the lines the tool writes to standard error about a render
// that failed and about data it cannot read.
#include "cli_report.h"

#include <new>
#include <stdexcept>

#include "memory/arena.h"
#include "render/output.h"
#include "parse/parser.h"
#include "render/renderer.h"

namespace mervalt::cli {
namespace {

std::string position(uint32_t line, uint32_t column) {
  return std::to_string(line) + ":" + std::to_string(column);
}

// 10000000 -> "10,000,000"
std::string withSeparators(uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

std::string gibibytes(std::size_t bytes) { return std::to_string(bytes >> 30) + " GiB"; }

std::string describeParseError(const Sources& sources, const ParseError& e) {
  std::string where = position(e.line, e.column);
  if (e.partial.empty()) return sources.templateName + ":" + where + ": error: " + e.what();
  auto file = sources.partialFiles.find(e.partial);
  if (file != sources.partialFiles.end())
    return file->second + ":" + where + ": error: " + e.what() + " (partial '" + e.partial + "' of " +
           sources.templateName + ")";
  return sources.templateName + ": in partial '" + e.partial + "' " + where + ": error: " + e.what();
}

}  // namespace

std::string describeRenderFailure(const Sources& sources) {
  std::string about = "mervalt: " + sources.templateName + ": ";
  try {
    throw;
  } catch (const ParseError& e) {
    return describeParseError(sources, e);
  } catch (const RenderDepthError&) {
    return about + "rendering nests deeper than " + std::to_string(kMaxRenderDepth) +
           " levels (blocks, include and render)";
  } catch (const RenderWorkError&) {
    return about + "more than " + withSeparators(kMaxRenderWork) + " units of work and " +
           std::to_string(kRenderWorkPerDataByte) + " per byte of data";
  } catch (const RenderLimitError&) {
    return about + "more than " + withSeparators(kMaxLoopIterations) + " loop iterations and inclusions";
  } catch (const OutputLimitError&) {
    return about + "the output would be larger than " + gibibytes(kMaxOutputBytes);
  } catch (const MemoryLimitError&) {
    return about + "rendering would hold more than " + gibibytes(kMaxCallMemory) + " of memory";
  } catch (const std::bad_alloc&) {
    return about + "out of memory";
  } catch (const std::exception& e) {
    return about + "the template could not be rendered: " + e.what();
  } catch (...) {
    return about + "the template could not be rendered";
  }
}

std::string describeDataProblem(const std::string& dataName, const JsonProblem& problem, bool strict) {
  std::string head = dataName + ":" + position(problem.line, problem.column);
  if (strict) return head + ": error: " + problem.message;
  return head + ": warning: " + problem.message + "; rendering without data";
}

}  // namespace mervalt::cli
