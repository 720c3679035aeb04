#include "qorimage.h"
// Not built yet.
void image_draw_line(QORImage *, int, int, int, int, ImageColour) {}
void image_draw_mark(QORImage *, int, int, int, ImageColour) {}
void image_draw_disc(QORImage *, int, int, double, ImageColour) {}
