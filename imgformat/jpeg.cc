#include "formats.h"
// Not built yet.
QORImage *read_jpeg(const char *) { return nullptr; }
int write_jpeg(const char *, QORImage *, int) { return 0; }
