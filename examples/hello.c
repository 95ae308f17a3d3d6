/* hello.c: renders a template against JSON data through the mervalt C interface. */
#include <stdio.h>
#include <string.h>

#include "mervalt.h"

int main(void) {
  const char *tpl = "Hello {{ user.name | capitalize }}! You have {{ user.messages | size }} new messages.\n";
  const char *json = "{\"user\": {\"name\": \"ada\", \"messages\": [\"hi\", \"lunch?\"]}}";
  char *out;
  size_t out_len;

  if (mervalt_render_json(tpl, strlen(tpl), json, strlen(json), &out, &out_len) != 0) {
    fputs("the template could not be rendered\n", stderr);
    return 1;
  }
  fwrite(out, 1, out_len, stdout);
  mervalt_free(out, out_len);
  return 0;
}
