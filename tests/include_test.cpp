// include_test.cpp: the per-call template cache and the stack that include
// chains use at the render depth bound.
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "small_stack.h"
#include "memory/arena.h"
#include "mervalt.h"
#include "render/output.h"
#include "api/call.h"
#include "render/renderer.h"

namespace {

TEST(TemplateCache, EachDistinctSourceIsParsedOnce) {
  mervalt::HeapResource heap;
  mervalt::Arena arena(&heap);
  mervalt::NameTable names(arena.resource());
  mervalt::Partials partials(arena, names, nullptr);

  std::string a = "{% if x %}{{ x }}{% endif %}";
  std::string sameBytes = a;  // another buffer with equal contents
  std::string other = "{{ y }}";
  const mervalt::PartialTree& first = partials.parse(a);
  EXPECT_EQ(partials.seen(a), &first);
  EXPECT_EQ(partials.seen(sameBytes), nullptr);
  EXPECT_EQ(&partials.parse(sameBytes), &first);
  EXPECT_EQ(partials.seen(sameBytes), &first);
  EXPECT_NE(&partials.parse(other), &first);
  EXPECT_EQ(first.tree.root->children.size(), 1u);
}

// The result code of one call made on a thread with a small stack.
int renderOnSmallStack(const std::string& tpl, const std::string& json) {
  int rc = -1;
  bool started = mervalt::test::runOnSmallStack([&] {
    char* out = nullptr;
    std::size_t len = 0;
    rc = mervalt_render_json(tpl.data(), tpl.size(), json.data(), json.size(), &out, &len);
    if (rc == 0) mervalt_free(out, len);
  });
  if (!started) ADD_FAILURE() << "no thread";
  return rc;
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
