// The portable-anymap forms one by one: gray maps as ASCII "P2" or binary
// "P5", colour maps as ASCII "P3" or binary "P6". read_pnm, write_pgm and
// write_ppm (formats.h) choose among them.
#pragma once
#include "qorimage.h"

// Readers: a new image (type 0 for the gray forms, type 1 for the colour
// forms) owned by the caller, or null. Header and data faults are reported
// in the standard-output text of `messages` with the messages of each form.
QORImage *pgma_read(const char *name, ImageMessages *messages = nullptr);
QORImage *pgmb_read(const char *name, ImageMessages *messages = nullptr);
QORImage *ppma_read(const char *name, ImageMessages *messages = nullptr);
QORImage *ppmb_read(const char *name, ImageMessages *messages = nullptr);

// Gray writers: the first width x height bytes of the pixel block, whatever
// the image type.
Status pgma_write(const char *name, QORImage *image);
Status pgmb_write(const char *name, QORImage *image);

// Colour writers: three bytes per pixel (Status::invalid_argument for an
// image that does not have three bytes per pixel).
Status ppma_write(const char *name, QORImage *image);
Status ppmb_write(const char *name, QORImage *image);
