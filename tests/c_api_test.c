/* c_api_test.c: the C interface used from C99, as a host program would. */
#include <stdio.h>
#include <string.h>

#include "mervalt.h"

static int failures = 0;

#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
              #cond);                                                 \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

static int render(const char *tpl, const char *json, char **out, size_t *len) {
  return mervalt_render_json(tpl, strlen(tpl), json, json ? strlen(json) : 0, out, len);
}

static void rendersBytes(void) {
  char *out = NULL;
  size_t len = 0;
  const char *tpl = "Hi {{ user.name }}!";
  CHECK(render(tpl, "{\"user\": {\"name\": \"ann\"}}", &out, &len) == 0);
  CHECK(len == 7);
  CHECK(out != NULL && memcmp(out, "Hi ann!", 7) == 0);
  mervalt_free(out, len);
}

/* Neither text needs a terminating NUL: only the given lengths are read. */
static void readsOnlyTheGivenLengths(void) {
  const char tpl[] = {'<', '{', '{', ' ', 'x', ' ', '}', '}', '>', '{', '{'};
  const char json[] = {'{', '"', 'x', '"', ':', '5', '}', ','};
  char *out = NULL;
  size_t len = 0;
  CHECK(mervalt_render_json(tpl, 9, json, 7, &out, &len) == 0);
  CHECK(len == 3 && memcmp(out, "<5>", 3) == 0);
  mervalt_free(out, len);
}

static void failureLeavesOutParamsUntouched(void) {
  char sentinel = 'S';
  char *out = &sentinel;
  size_t len = 12345;
  CHECK(render("{{ a", "{\"a\": 1}", &out, &len) == 1);
  CHECK(out == &sentinel);
  CHECK(len == 12345);
  CHECK(render("a{% endif %}", NULL, &out, &len) == 1);
  CHECK(out == &sentinel);
  CHECK(len == 12345);
}

static void emptyResultIsFreedWithLengthZero(void) {
  char *out = NULL;
  size_t len = 99;
  CHECK(render("", "{\"a\": 1}", &out, &len) == 0);
  CHECK(len == 0);
  mervalt_free(out, 0);
  CHECK(render("{{ missing }}", NULL, &out, &len) == 0);
  CHECK(len == 0);
  mervalt_free(out, len);
}

static void badJsonIsNoData(void) {
  char *out = NULL;
  size_t len = 0;
  CHECK(render("[{{ a }}]", "{\"a\": 1,}", &out, &len) == 0);
  CHECK(len == 2 && memcmp(out, "[]", 2) == 0);
  mervalt_free(out, len);
}

/* The header's version string spells out its three version numbers. */
static void versionMacrosAgree(void) {
  char spelled[40];
  sprintf(spelled, "%d.%d.%d", MERVALT_VERSION_MAJOR, MERVALT_VERSION_MINOR, MERVALT_VERSION_PATCH);
  CHECK(strcmp(spelled, MERVALT_VERSION_STRING) == 0);
}

int main(void) {
  versionMacrosAgree();
  rendersBytes();
  readsOnlyTheGivenLengths();
  failureLeavesOutParamsUntouched();
  emptyResultIsFreedWithLengthZero();
  badJsonIsNoData();
  if (failures) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  puts("c_api_test: all checks passed");
  return 0;
}
