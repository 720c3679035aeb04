#include "formats.h"
// Not built yet.
QORImage *read_pct(const char *) { return nullptr; }
