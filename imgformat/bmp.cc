#include "formats.h"
// Not built yet.
QORImage *read_bmp(const char *) { return nullptr; }
int write_bmp(const char *, QORImage *) { return 0; }
