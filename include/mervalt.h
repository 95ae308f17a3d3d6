/* mervalt.h: the C interface of the mervalt template engine. */
#ifndef MERVALT_H
#define MERVALT_H

#include <stddef.h>

#include "mervalt_version.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define MERVALT_API __attribute__((visibility("default")))
#else
#define MERVALT_API
#endif

/*
 * Renders the Liquid template `template_ptr`/`template_len` against the JSON
 * document `json_ptr`/`json_len`.
 *
 * Neither text needs to be NUL-terminated; both are only read, and only during
 * the call. `json_len` 0 means there is no document. A document that is not
 * valid JSON (or nests too deeply) does not fail the call: the template simply
 * sees no data.
 *
 * Returns 0 on success: `*out_ptr` and `*out_len` then hold the rendered bytes
 * (not NUL-terminated). The caller owns that buffer and must release it with
 * mervalt_free(*out_ptr, *out_len). When the length is 0 the pointer is not a
 * live allocation, and mervalt_free does nothing with it.
 *
 * Returns 1 on failure: the template does not parse, nests too deeply, includes
 * itself too many times, or memory ran out. `*out_ptr` and `*out_len` are left
 * untouched and nothing needs to be released.
 *
 * Errors of the template language itself (an unknown operator, a comparison of
 * incompatible values, a missing partial) are not failures: they appear as
 * "Liquid error ..." text inside a successful result.
 *
 * Thread safety: the library holds no global mutable state. Any number of
 * calls may run at the same time on different threads.
 */
MERVALT_API int mervalt_render_json(const char *template_ptr, size_t template_len,
                                    const char *json_ptr, size_t json_len,
                                    char **out_ptr, size_t *out_len);

/*
 * Releases a buffer returned by mervalt_render_json, given the pointer and the
 * length that the call reported. Does nothing when `len` is 0.
 */
MERVALT_API void mervalt_free(char *ptr, size_t len);

#ifdef __cplusplus
}
#endif

#endif /* MERVALT_H */
