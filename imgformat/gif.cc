#include "formats.h"
// Not built yet.
QORImage *read_gif(const char *) { return nullptr; }
