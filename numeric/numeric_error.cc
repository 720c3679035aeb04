// The one fatal error of the numerical code: three lines on standard error,
// then exit status 1. Nothing is cleaned up; callers never regain control.
#include <cstdio>
#include <cstdlib>

#include "numeric.h"

namespace {
NumericErrorHandler installed_handler = nullptr;
}

NumericErrorHandler set_numeric_error_handler(NumericErrorHandler handler) {
  NumericErrorHandler previous = installed_handler;
  installed_handler = handler;
  return previous;
}

void numeric_error(const char *message) {
  std::fprintf(stderr, "Numerical Recipes run-time error...\n");
  std::fprintf(stderr, "%s\n", message);
  std::fprintf(stderr, "...now exiting to system...\n");
  if (installed_handler != nullptr) installed_handler(message);
  std::exit(1);
}
