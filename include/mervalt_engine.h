/* mervalt_engine.h: the host interface of the mervalt template engine:
 * templates compiled once and rendered many times, named partials, limits the
 * host sets, and the reason a call failed. Link with -lmervalt-engine. */
#ifndef MERVALT_ENGINE_H
#define MERVALT_ENGINE_H

#include <stddef.h>
#include <stdint.h>

#include "mervalt_version.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define MERVALT_ENGINE_API __attribute__((visibility("default")))
#else
#define MERVALT_ENGINE_API
#endif

/*
 * An engine holds settings (limits, strict data) and partials: configure it,
 * then compile templates from it. A compiled template takes what it needs of
 * its engine when it is compiled (the settings, and the partials, shared and
 * not copied); changing or freeing the engine afterwards does not affect it.
 *
 * Threads: compiling, rendering and checking are safe on any number of threads
 * at once, from one engine and one template as from many. Configuring an
 * engine (mervalt_engine_set_limit, _set_strict_data, _add_partial,
 * _disable_check) while another thread compiles or checks with it is not:
 * configure first, then compile.
 *
 * Every function that returns int returns a mervalt_status. On a failure,
 * `*error` (when `error` is not NULL) receives an error that the caller frees
 * with mervalt_error_free; on success it is set to NULL. When memory runs out
 * the error is a static one that mervalt_error_free ignores. Out-parameters
 * other than `error` are untouched on failure. No function throws, aborts or
 * prints.
 */
typedef struct mervalt_engine mervalt_engine;
typedef struct mervalt_template mervalt_template;

typedef enum mervalt_status {
  MERVALT_OK = 0,
  MERVALT_ERROR_SYNTAX = 1,       /* the template or a partial does not parse */
  MERVALT_ERROR_DATA = 2,         /* the JSON is not readable (only with strict data) */
  MERVALT_ERROR_DEPTH = 3,        /* rendering nests deeper than the limit */
  MERVALT_ERROR_ITERATIONS = 4,   /* loop iterations and inclusions */
  MERVALT_ERROR_WORK = 5,         /* units of work */
  MERVALT_ERROR_OUTPUT = 6,       /* the output would be larger than the limit */
  MERVALT_ERROR_MEMORY_LIMIT = 7, /* the render would hold more memory than the limit */
  MERVALT_ERROR_NO_MEMORY = 8,    /* an allocation failed */
  MERVALT_ERROR_ARGUMENT = 9      /* a null pointer where one is required, or a bad setting */
} mervalt_status;

/*
 * Why a call failed. `message` is NUL-terminated; for a syntax error it is the
 * command-line tool's wording ("'endfor' does not close the open 'if' (opened
 * at 9:1)"), for a limit it names the limit and its value. `partial` names the
 * partial where a syntax error happened (NULL for the template itself). `line`
 * and `column` are 1-based, in bytes, in that text (for a data error: in the
 * JSON text); 0 when the error is not tied to a place.
 */
typedef struct mervalt_error {
  mervalt_status status;
  const char *message;
  const char *partial;
  uint32_t line, column;
} mervalt_error;

/*
 * The bounds of one render. By default each follows the size of the render's
 * input as mervalt_render_json's do (see the README's Limits); a value set
 * here is an absolute bound for every render of templates compiled afterwards.
 */
typedef enum mervalt_limit {
  MERVALT_LIMIT_MEMORY = 0,     /* bytes one render may hold (output included) */
  MERVALT_LIMIT_OUTPUT = 1,     /* bytes of output */
  MERVALT_LIMIT_WORK = 2,       /* units of work, as the README defines them */
  MERVALT_LIMIT_ITERATIONS = 3, /* loop iterations plus inclusions */
  MERVALT_LIMIT_DEPTH = 4       /* nesting of blocks and inclusions at render time, at most 100 */
} mervalt_limit;

/* The library's version, "0.3.0". */
MERVALT_ENGINE_API const char *mervalt_engine_version(void);

/* A short text for a status: "syntax error", "output limit", ...; "unknown
 * status" for a number that is none. */
MERVALT_ENGINE_API const char *mervalt_status_string(int status);

/* A new engine with default settings and no partials; NULL when out of memory. */
MERVALT_ENGINE_API mervalt_engine *mervalt_engine_new(void);

/* Frees an engine. Templates compiled from it stay valid. NULL is ignored. */
MERVALT_ENGINE_API void mervalt_engine_free(mervalt_engine *engine);

/*
 * Sets a limit for templates compiled afterwards; 0 restores the default.
 * MERVALT_ERROR_ARGUMENT for an unknown limit, or a depth above 100 (the
 * nesting that keeps a render safe on a 256 KiB stack).
 */
MERVALT_ENGINE_API int mervalt_engine_set_limit(mervalt_engine *engine, mervalt_limit which, uint64_t value);

/*
 * With `strict` not 0, a render whose JSON is not readable fails with
 * MERVALT_ERROR_DATA, the reader's reason and its line and column in the JSON;
 * otherwise (the default) such JSON reads as no data.
 */
MERVALT_ENGINE_API int mervalt_engine_set_strict_data(mervalt_engine *engine, int strict);

/*
 * Adds a partial named `name` for include and render, parsed now (a syntax
 * error is reported here, naming the partial). Adding a name again replaces
 * its partial. At render time include and render look in the data's template
 * store first, as mervalt_render_json does, then among these partials, with
 * the same scoping rules for both. A name holding a NUL byte is
 * MERVALT_ERROR_ARGUMENT.
 */
MERVALT_ENGINE_API int mervalt_engine_add_partial(mervalt_engine *engine, const char *name, size_t name_len,
                                                  const char *source, size_t source_len,
                                                  mervalt_error **error);

/*
 * Compiles `source` with the engine's settings and partials. On success
 * `*out` is an immutable template, to be freed with mervalt_template_free and
 * shared freely across threads until then.
 */
MERVALT_ENGINE_API int mervalt_compile(const mervalt_engine *engine, const char *source, size_t source_len,
                                       mervalt_template **out, mervalt_error **error);

/*
 * Renders a compiled template against the JSON document `json`/`json_len`
 * (NULL with length 0: no data). On success `*out_ptr` and `*out_len` hold the
 * rendered bytes, as mervalt_render_json's: not NUL-terminated, length 0 may
 * come with any pointer, released with mervalt_output_free only.
 */
MERVALT_ENGINE_API int mervalt_template_render(const mervalt_template *tpl, const char *json, size_t json_len,
                                               char **out_ptr, size_t *out_len, mervalt_error **error);

/* Compiles and renders in one call. */
MERVALT_ENGINE_API int mervalt_engine_render(const mervalt_engine *engine, const char *source, size_t source_len,
                                             const char *json, size_t json_len, char **out_ptr, size_t *out_len,
                                             mervalt_error **error);

/*
 * Checks a template without rendering it, for the mistakes that render
 * without failing (see the README's "Checking templates"). `source` is checked
 * with the engine's partials and with the JSON document `json`/`json_len` when
 * one is given (length 0: none); only with a document are names
 * reported that nothing defines (undefined-variable), and its template store
 * is searched before the engine's partials, as a render does. A document that
 * is not readable JSON is MERVALT_ERROR_DATA, with its place.
 *
 * On success `*report`/`*report_len` hold a JSON array (UTF-8, not
 * NUL-terminated), released with mervalt_output_free: one object per finding,
 * in file order, with "line", "column", "severity" ("error" or "warning"),
 * "code", "message", and "partial" (the partial it is in) and "suggestion"
 * when there are. A template that does not parse is a finding of code
 * "syntax", not a failure. Codes disabled with mervalt_engine_disable_check
 * are left out.
 */
MERVALT_ENGINE_API int mervalt_check(const mervalt_engine *engine, const char *source, size_t source_len,
                                     const char *json, size_t json_len, char **report, size_t *report_len,
                                     mervalt_error **error);

/*
 * Leaves the check code `code` ("unused-assign", ...) out of mervalt_check's
 * reports from now on. MERVALT_ERROR_ARGUMENT for a code that is none.
 */
MERVALT_ENGINE_API int mervalt_engine_disable_check(mervalt_engine *engine, const char *code, size_t code_len);

/*
 * The data paths a compiled template reads, through the partials it was
 * compiled with: a JSON array of objects with "path" ("products[].title"),
 * "line", "column" and, when read in a partial, "partial", in order of first
 * use. Released with mervalt_output_free.
 */
MERVALT_ENGINE_API int mervalt_template_variables(const mervalt_template *tpl, char **out_ptr, size_t *out_len,
                                                  mervalt_error **error);

/* Frees a compiled template. NULL is ignored. */
MERVALT_ENGINE_API void mervalt_template_free(mervalt_template *tpl);

/* Releases output handed out by a render, given its pointer and length. */
MERVALT_ENGINE_API void mervalt_output_free(char *ptr, size_t len);

/* Frees an error. NULL and the static out-of-memory error are ignored. */
MERVALT_ENGINE_API void mervalt_error_free(mervalt_error *error);

#ifdef __cplusplus
}
#endif

#endif /* MERVALT_ENGINE_H */
