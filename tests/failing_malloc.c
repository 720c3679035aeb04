/* Preloaded into a program by the allocation-failure tests: makes every
 * malloc, calloc or realloc of one exact size fail, so that a test reaches
 * the out-of-memory path of one chosen allocation without changing the
 * program. The environment variable QOR_FAIL_ALLOCATION names it as
 * "malloc:<bytes>", "calloc:<bytes>" (the product of its two arguments) or
 * "realloc:<bytes>". Everything else goes to the C library's allocator. */
#include <errno.h>
#include <stdlib.h>
#include <string.h>

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *block, size_t size);

static int fail_kind; /* 0 none, 1 malloc, 2 calloc, 3 realloc */
static size_t fail_size;

__attribute__((constructor)) static void read_setting(void) {
  const char *s = getenv("QOR_FAIL_ALLOCATION");
  if (!s) return;
  const char *colon = strchr(s, ':');
  if (!colon) return;
  const size_t n = (size_t)(colon - s);
  if (n == 6 && strncmp(s, "malloc", n) == 0) fail_kind = 1;
  if (n == 6 && strncmp(s, "calloc", n) == 0) fail_kind = 2;
  if (n == 7 && strncmp(s, "realloc", n) == 0) fail_kind = 3;
  fail_size = (size_t)strtoull(colon + 1, NULL, 10);
}

void *malloc(size_t size) {
  if (fail_kind == 1 && size == fail_size) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_malloc(size);
}

void *calloc(size_t count, size_t size) {
  if (fail_kind == 2 && count * size == fail_size) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_calloc(count, size);
}

void *realloc(void *block, size_t size) {
  if (fail_kind == 3 && size == fail_size) {
    errno = ENOMEM;
    return NULL;
  }
  return __libc_realloc(block, size);
}
