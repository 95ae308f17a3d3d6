/* engine.c: a template compiled once and rendered on two threads, a syntax
 * error with its place, and a limit that stops a render, through the
 * mervalt engine interface. */
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "mervalt_engine.h"

struct job {
  const mervalt_template *tpl;
  const char *json;
  char *out;
  size_t out_len;
  int status;
};

static void *render_job(void *arg) {
  struct job *j = arg;
  j->status = mervalt_template_render(j->tpl, j->json, strlen(j->json), &j->out, &j->out_len, NULL);
  return NULL;
}

int main(void) {
  mervalt_engine *engine = mervalt_engine_new();
  mervalt_error *error = NULL;
  if (!engine) return 1;

  /* A partial, and a template that renders it for each item. */
  const char *card = "<li>{{ item.name | escape }}: {{ item.price | times: 1.2 | round: 2 }}</li>\n";
  if (mervalt_engine_add_partial(engine, "card", 4, card, strlen(card), &error) != MERVALT_OK) {
    fprintf(stderr, "%s\n", error->message);
    mervalt_error_free(error);
    return 1;
  }
  const char *page = "<ul>\n{% for item in items %}{% render 'card', item: item %}{% endfor %}</ul>\n";
  mervalt_template *tpl = NULL;
  if (mervalt_compile(engine, page, strlen(page), &tpl, &error) != MERVALT_OK) {
    fprintf(stderr, "%s\n", error->message);
    mervalt_error_free(error);
    return 1;
  }

  /* Compiled once, rendered on two threads at once. */
  struct job jobs[2] = {
      {tpl, "{\"items\": [{\"name\": \"Tea & cake\", \"price\": 5}]}", NULL, 0, -1},
      {tpl, "{\"items\": [{\"name\": \"Kettle\", \"price\": 25.5}, {\"name\": \"Cup\", \"price\": 2}]}", NULL, 0, -1},
  };
  pthread_t threads[2];
  for (int i = 0; i < 2; ++i) pthread_create(&threads[i], NULL, render_job, &jobs[i]);
  for (int i = 0; i < 2; ++i) pthread_join(threads[i], NULL);
  for (int i = 0; i < 2; ++i) {
    if (jobs[i].status != MERVALT_OK) return 1;
    fwrite(jobs[i].out, 1, jobs[i].out_len, stdout);
    mervalt_output_free(jobs[i].out, jobs[i].out_len);
  }
  mervalt_template_free(tpl);

  /* A template that does not parse: where and why. */
  const char *broken = "{% for item in items %}\n  {% if item.price > 10 %}{{ item.name }}\n{% endfor %}";
  if (mervalt_compile(engine, broken, strlen(broken), &tpl, &error) == MERVALT_ERROR_SYNTAX) {
    printf("%u:%u: %s\n", error->line, error->column, error->message);
    mervalt_error_free(error);
  }

  /* A limit the host sets: at most 1,000 units of work per render. */
  mervalt_engine_set_limit(engine, MERVALT_LIMIT_WORK, 1000);
  const char *busy = "{% for i in (1..100000) %}{{ i }}{% endfor %}";
  char *out = NULL;
  size_t out_len = 0;
  int status = mervalt_engine_render(engine, busy, strlen(busy), NULL, 0, &out, &out_len, &error);
  printf("%s: %s\n", mervalt_status_string(status), error ? error->message : "rendered");
  mervalt_error_free(error);

  mervalt_engine_free(engine);
  return status == MERVALT_ERROR_WORK ? 0 : 1;
}
