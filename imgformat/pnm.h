// The portable-anymap forms one by one: gray maps as ASCII "P2" or binary
// "P5", colour maps as ASCII "P3" or binary "P6". read_pnm, write_pgm and
// write_ppm (formats.h) choose among them.
#pragma once
#include "qorimage.h"

// Readers: a new image (type 0 for the gray forms, type 1 for the colour
// forms) owned by the caller, or null. Header and data faults are reported
// on the standard output with the messages of each form.
QORImage *pgma_read(const char *name);
QORImage *pgmb_read(const char *name);
QORImage *ppma_read(const char *name);
QORImage *ppmb_read(const char *name);

// Gray writers: the first width x height bytes of the pixel block, whatever
// the image type. 1 written, 0 not.
int pgma_write(const char *name, QORImage *image);
int pgmb_write(const char *name, QORImage *image);

// Colour writers: three bytes per pixel. 1 written, -1 not (also for an
// image that does not have three bytes per pixel).
int ppma_write(const char *name, QORImage *image);
int ppmb_write(const char *name, QORImage *image);
