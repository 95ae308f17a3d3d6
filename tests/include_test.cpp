// include_test.cpp: the per-call template cache and the stack that include
// chains use at the render depth bound.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "arena.h"
#include "mervalt.h"
#include "output.h"
#include "renderer.h"

namespace {

TEST(TemplateCache, EachDistinctSourceIsParsedOnce) {
  mervalt::HeapResource heap;
  mervalt::Arena arena(&heap);
  mervalt::OutputBuffer out(heap);
  mervalt::Renderer r(arena, mervalt::Value(), out);

  std::string a = "{% if x %}{{ x }}{% endif %}";
  std::string sameBytes = a;  // another buffer with equal contents
  std::string other = "{{ y }}";
  const mervalt::Node& first = r.parseCached(a);
  EXPECT_EQ(&r.parseCached(a), &first);
  EXPECT_EQ(&r.parseCached(sameBytes), &first);
  EXPECT_NE(&r.parseCached(other), &first);
  EXPECT_EQ(first.children.size(), 1u);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kStack = 1024 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kStack = 1024 * 1024;
#else
constexpr std::size_t kStack = 256 * 1024;
#endif
#else
constexpr std::size_t kStack = 256 * 1024;
#endif

// The result code of one call made on a thread with a small stack.
int renderOnSmallStack(const std::string& tpl, const std::string& json) {
  struct Job {
    const std::string& tpl;
    const std::string& json;
    int rc;
  } job{tpl, json, -1};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, kStack);
  pthread_t thread;
  auto body = [](void* arg) -> void* {
    auto* j = static_cast<Job*>(arg);
    char* out = nullptr;
    std::size_t len = 0;
    j->rc = mervalt_render_json(j->tpl.data(), j->tpl.size(), j->json.data(), j->json.size(), &out, &len);
    if (j->rc == 0) mervalt_free(out, len);
    return nullptr;
  };
  if (pthread_create(&thread, &attr, body, &job) != 0) {
    pthread_attr_destroy(&attr);
    ADD_FAILURE() << "pthread_create failed";
    return -1;
  }
  pthread_attr_destroy(&attr);
  pthread_join(thread, nullptr);
  return job.rc;
}

// The heaviest paths through the tags per level of nesting: render with
// arguments and its own scope, the for form with its loop object, and loops
// around includes. Each recurses until the depth bound fails the call.
TEST(IncludeChains, RecursionToTheDepthBoundFailsCleanlyOnASmallStack) {
  const char* const chains[] = {
      R"({"templates": {"s": "x{% render 's' with 1 as a, b: 2, c: 3 %}"}})",
      R"({"l": [1], "templates": {"s": "x{% render 's' for l as e, b: 2 %}"}})",
      R"({"templates": {"s": "{% for i in (1..2) %}{% include 's' k: i %}{% endfor %}"}})",
      R"({"templates": {"s": "{% tablerow i in (1..2) cols: 1 %}{% render 's' %}{% endtablerow %}"}})",
      R"({"templates": {"s": "{% ifchanged %}{% cycle 'a', 'b' %}{% include 's' with 'v' %}{% endifchanged %}"}})",
  };
  for (const char* json : chains) EXPECT_EQ(renderOnSmallStack("{% include 's' %}", json), 1) << json;
}

}  // namespace
