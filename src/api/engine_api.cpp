// engine_api.cpp: the functions of mervalt_engine.h. No exception crosses
// this boundary: each one becomes a status and, when asked for, an error.
#include "mervalt_engine.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "check/checker.h"
#include "check/report_json.h"
#include "data/json_check.h"
#include "data/json_input.h"
#include "engine/compiled_template.h"
#include "engine/partial_set.h"
#include "parse/parser.h"
#include "render_limits.h"

struct mervalt_engine {
  mervalt::EngineSettings settings;
  std::shared_ptr<const mervalt::PartialSet> partials = std::make_shared<mervalt::PartialSet>();
};

struct mervalt_template {
  mervalt::CompiledTemplate compiled;
};

namespace {

// The address handed out for an empty result: not an allocation, never freed.
char kEmptyResult[1] = {0};

// The error for a failed allocation: static, ignored by mervalt_error_free.
mervalt_error kNoMemory{MERVALT_ERROR_NO_MEMORY, "out of memory", nullptr, 0, 0};

// An error in one block: the struct, then its message and partial name.
int fail(mervalt_error** error, mervalt_status status, std::string_view message, const std::string* partial = nullptr,
         uint32_t line = 0, uint32_t column = 0) {
  if (!error) return status;
  std::size_t partialBytes = partial ? partial->size() + 1 : 0;
  void* block = std::malloc(sizeof(mervalt_error) + message.size() + 1 + partialBytes);
  if (!block) {
    *error = &kNoMemory;
    return status;
  }
  auto* e = static_cast<mervalt_error*>(block);
  char* text = static_cast<char*>(block) + sizeof(mervalt_error);
  std::memcpy(text, message.data(), message.size());
  text[message.size()] = '\0';
  char* name = nullptr;
  if (partial) {
    name = text + message.size() + 1;
    std::memcpy(name, partial->data(), partial->size());
    name[partial->size()] = '\0';
  }
  *e = mervalt_error{status, text, name, line, column};
  *error = e;
  return status;
}

mervalt_status statusOf(mervalt::LimitKind kind) {
  switch (kind) {
    case mervalt::LimitKind::Depth: return MERVALT_ERROR_DEPTH;
    case mervalt::LimitKind::Iterations: return MERVALT_ERROR_ITERATIONS;
    case mervalt::LimitKind::Work: return MERVALT_ERROR_WORK;
    case mervalt::LimitKind::Output: return MERVALT_ERROR_OUTPUT;
    case mervalt::LimitKind::Memory: return MERVALT_ERROR_MEMORY_LIMIT;
  }
  return MERVALT_ERROR_MEMORY_LIMIT;  // not reached: the switch names every kind
}

// The status and error of the exception being handled.
int failWithCurrent(mervalt_error** error) {
  try {
    throw;
  } catch (const mervalt::ParseError& e) {
    return fail(error, MERVALT_ERROR_SYNTAX, e.what(), e.partial.empty() ? nullptr : &e.partial, e.line, e.column);
  } catch (const mervalt::DataError& e) {
    return fail(error, MERVALT_ERROR_DATA, e.problem.message, nullptr, e.problem.line, e.problem.column);
  } catch (const mervalt::LimitExceeded& e) {
    return fail(error, statusOf(e.kind), mervalt::describeLimit(e));
  } catch (const std::bad_alloc&) {
    if (error) *error = &kNoMemory;
    return MERVALT_ERROR_NO_MEMORY;
  } catch (...) {
    if (error) *error = &kNoMemory;
    return MERVALT_ERROR_NO_MEMORY;
  }
}

int succeed(mervalt_error** error) {
  if (error) *error = nullptr;
  return MERVALT_OK;
}

int badArgument(mervalt_error** error, std::string_view why) { return fail(error, MERVALT_ERROR_ARGUMENT, why); }

bool validText(const char* p, std::size_t len) { return p || len == 0; }

void handOut(std::pair<char*, std::size_t> result, char** outPtr, std::size_t* outLen) {
  *outPtr = result.second == 0 ? kEmptyResult : result.first;
  *outLen = result.second;
}

// A JSON text in a buffer of its own, as renders hand theirs out.
void handOutText(const std::string& text, char** outPtr, std::size_t* outLen) {
  char* buffer = static_cast<char*>(std::malloc(text.size()));
  if (!buffer) throw std::bad_alloc();
  std::memcpy(buffer, text.data(), text.size());
  handOut({buffer, text.size()}, outPtr, outLen);
}

// The engine's partials, after the data's template store when there is data.
void addEnginePartials(mervalt::check::PartialCatalog& catalog, const mervalt::PartialSet& partials) {
  partials.forEach([&](std::string_view name, const mervalt::Tree& tree) { catalog.addTree(name, &tree); });
}

std::string findingsReport(const std::vector<mervalt::check::Finding>& findings) {
  std::vector<std::string> items;
  for (const mervalt::check::Finding& f : findings) mervalt::check::appendFindingJson(items.emplace_back(), f, {});
  return mervalt::check::jsonArray(items);
}

std::string pathsReport(const std::vector<mervalt::check::DataPath>& paths) {
  std::vector<std::string> items;
  for (const mervalt::check::DataPath& p : paths) mervalt::check::appendPathJson(items.emplace_back(), p, {});
  return mervalt::check::jsonArray(items);
}

// Checks `source` with `json` (empty: no data); throws DataError for JSON that
// does not read.
std::string checkReport(const mervalt_engine& engine, std::string_view source, std::string_view json, bool hasData) {
  mervalt::HeapResource heap;
  mervalt::Arena arena(&heap);
  mervalt::check::PartialCatalog catalog;
  mervalt::Value data;
  if (hasData) {
    bool readable = true;
    data = mervalt::readJsonDocument(json, arena, false, &readable);
    // Only a document that does not read is read again, for the place why.
    if (std::optional<mervalt::JsonProblem> problem = readable ? std::nullopt : mervalt::findJsonProblem(json))
      throw mervalt::DataError(std::move(*problem));
    catalog.addDataStore(data);
  }
  addEnginePartials(catalog, *engine.partials);
  mervalt::check::CheckRequest request{source, hasData ? &data : nullptr, &catalog, engine.settings.disabledChecks};
  return findingsReport(mervalt::check::checkTemplate(request).findings);
}

}  // namespace

extern "C" {

MERVALT_ENGINE_API const char* mervalt_engine_version(void) { return MERVALT_VERSION_STRING; }

MERVALT_ENGINE_API const char* mervalt_status_string(int status) {
  switch (status) {
    case MERVALT_OK: return "ok";
    case MERVALT_ERROR_SYNTAX: return "syntax error";
    case MERVALT_ERROR_DATA: return "data error";
    case MERVALT_ERROR_DEPTH: return "depth limit";
    case MERVALT_ERROR_ITERATIONS: return "iteration limit";
    case MERVALT_ERROR_WORK: return "work limit";
    case MERVALT_ERROR_OUTPUT: return "output limit";
    case MERVALT_ERROR_MEMORY_LIMIT: return "memory limit";
    case MERVALT_ERROR_NO_MEMORY: return "out of memory";
    case MERVALT_ERROR_ARGUMENT: return "bad argument";
    default: return "unknown status";
  }
}

MERVALT_ENGINE_API mervalt_engine* mervalt_engine_new(void) {
  try {
    return new mervalt_engine();
  } catch (...) {
    return nullptr;
  }
}

MERVALT_ENGINE_API void mervalt_engine_free(mervalt_engine* engine) { delete engine; }

MERVALT_ENGINE_API int mervalt_engine_set_limit(mervalt_engine* engine, mervalt_limit which, uint64_t value) {
  if (!engine) return MERVALT_ERROR_ARGUMENT;
  mervalt::LimitSettings& l = engine->settings.limits;
  switch (which) {
    case MERVALT_LIMIT_MEMORY: l.memory = value; return MERVALT_OK;
    case MERVALT_LIMIT_OUTPUT: l.output = value; return MERVALT_OK;
    case MERVALT_LIMIT_WORK: l.work = value; return MERVALT_OK;
    case MERVALT_LIMIT_ITERATIONS: l.iterations = value; return MERVALT_OK;
    case MERVALT_LIMIT_DEPTH:
      if (value > mervalt::kMaxRenderDepth) return MERVALT_ERROR_ARGUMENT;
      l.depth = static_cast<uint32_t>(value);
      return MERVALT_OK;
  }
  return MERVALT_ERROR_ARGUMENT;
}

MERVALT_ENGINE_API int mervalt_engine_set_strict_data(mervalt_engine* engine, int strict) {
  if (!engine) return MERVALT_ERROR_ARGUMENT;
  engine->settings.strictData = strict != 0;
  return MERVALT_OK;
}

MERVALT_ENGINE_API int mervalt_engine_add_partial(mervalt_engine* engine, const char* name, size_t name_len,
                                                  const char* source, size_t source_len, mervalt_error** error) {
  if (!engine || !validText(name, name_len) || !validText(source, source_len))
    return badArgument(error, "a null pointer where one is required");
  std::string_view n(name, name_len);
  if (n.find('\0') != std::string_view::npos) return badArgument(error, "a partial's name holds a NUL byte");
  try {
    engine->partials = engine->partials->with(n, {source, source_len});
    return succeed(error);
  } catch (...) {
    return failWithCurrent(error);
  }
}

MERVALT_ENGINE_API int mervalt_compile(const mervalt_engine* engine, const char* source, size_t source_len,
                                       mervalt_template** out, mervalt_error** error) {
  if (!engine || !out || !validText(source, source_len))
    return badArgument(error, "a null pointer where one is required");
  try {
    *out = new mervalt_template{mervalt::CompiledTemplate({source, source_len}, engine->settings, engine->partials)};
    return succeed(error);
  } catch (...) {
    return failWithCurrent(error);
  }
}

MERVALT_ENGINE_API int mervalt_template_render(const mervalt_template* tpl, const char* json, size_t json_len,
                                               char** out_ptr, size_t* out_len, mervalt_error** error) {
  if (!tpl || !out_ptr || !out_len || !validText(json, json_len))
    return badArgument(error, "a null pointer where one is required");
  try {
    handOut(tpl->compiled.render({json, json_len}), out_ptr, out_len);
    return succeed(error);
  } catch (...) {
    return failWithCurrent(error);
  }
}

MERVALT_ENGINE_API int mervalt_engine_render(const mervalt_engine* engine, const char* source, size_t source_len,
                                             const char* json, size_t json_len, char** out_ptr, size_t* out_len,
                                             mervalt_error** error) {
  if (!engine || !out_ptr || !out_len || !validText(source, source_len) || !validText(json, json_len))
    return badArgument(error, "a null pointer where one is required");
  try {
    mervalt::CompiledTemplate compiled({source, source_len}, engine->settings, engine->partials);
    handOut(compiled.render({json, json_len}), out_ptr, out_len);
    return succeed(error);
  } catch (...) {
    return failWithCurrent(error);
  }
}

MERVALT_ENGINE_API int mervalt_check(const mervalt_engine* engine, const char* source, size_t source_len,
                                     const char* json, size_t json_len, char** report, size_t* report_len,
                                     mervalt_error** error) {
  if (!engine || !report || !report_len || !validText(source, source_len) || !validText(json, json_len))
    return badArgument(error, "a null pointer where one is required");
  try {
    handOutText(checkReport(*engine, {source, source_len}, {json, json_len}, json_len != 0),
                report, report_len);
    return succeed(error);
  } catch (...) {
    return failWithCurrent(error);
  }
}

MERVALT_ENGINE_API int mervalt_engine_disable_check(mervalt_engine* engine, const char* code, size_t code_len) {
  if (!engine || !validText(code, code_len)) return MERVALT_ERROR_ARGUMENT;
  std::optional<mervalt::check::CheckCode> c = mervalt::check::codeNamed({code, code_len});
  if (!c) return MERVALT_ERROR_ARGUMENT;
  engine->settings.disabledChecks |= mervalt::check::codeBit(*c);
  return MERVALT_OK;
}

MERVALT_ENGINE_API int mervalt_template_variables(const mervalt_template* tpl, char** out_ptr, size_t* out_len,
                                                  mervalt_error** error) {
  if (!tpl || !out_ptr || !out_len) return badArgument(error, "a null pointer where one is required");
  try {
    mervalt::check::PartialCatalog catalog;
    addEnginePartials(catalog, tpl->compiled.partials());
    handOutText(pathsReport(mervalt::check::dataPaths(tpl->compiled.tree(), catalog)), out_ptr, out_len);
    return succeed(error);
  } catch (...) {
    return failWithCurrent(error);
  }
}

MERVALT_ENGINE_API void mervalt_template_free(mervalt_template* tpl) { delete tpl; }

MERVALT_ENGINE_API void mervalt_output_free(char* ptr, size_t len) {
  if (len != 0) std::free(ptr);
}

MERVALT_ENGINE_API void mervalt_error_free(mervalt_error* error) {
  if (error && error != &kNoMemory) std::free(error);
}

}  // extern "C"
