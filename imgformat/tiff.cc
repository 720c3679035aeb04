#include "formats.h"
// Not built yet.
QORImage *read_tiff(const char *) { return nullptr; }
