#include "option_value.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

bool read_real_option(const char *text, double *value) {
  double v;
  if (std::sscanf(text, "%lf", &v) != 1) return false;
  *value = v;
  return true;
}

bool read_integer_option(const char *text, int32_t *value) {
  char *end = nullptr;
  long long v = std::strtoll(text, &end, 10);  // the subject syntax of "%d"
  if (end == text) return false;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  *value = static_cast<int32_t>(v);
  return true;
}

bool read_word_option(const char *text, std::string *value) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  while (*p && std::isspace(*p)) ++p;
  const unsigned char *q = p;
  while (*q && !std::isspace(*q)) ++q;
  if (q == p) return false;
  value->assign(reinterpret_cast<const char *>(p), static_cast<size_t>(q - p));
  return true;
}
