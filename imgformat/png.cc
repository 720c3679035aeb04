#include "formats.h"
// Not built yet.
QORImage *read_png(const char *) { return nullptr; }
int write_png(const char *, QORImage *) { return -1; }
