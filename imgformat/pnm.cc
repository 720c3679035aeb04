#include "formats.h"
// Not built yet.
QORImage *read_pnm(const char *) { return nullptr; }
int write_pgm(const char *, QORImage *, int) { return 0; }
int write_ppm(const char *, QORImage *, int) { return 0; }
