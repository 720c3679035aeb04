// The individual format readers and writers behind image_read/image_write.
// Each reader returns a new image owned by the caller, or null after printing
// its own message.
#pragma once
#include "qorimage.h"

QORImage *read_jpeg(const char *name);
int write_jpeg(const char *name, QORImage *image, int quality);  // 1 written, 0 not

QORImage *read_tiff(const char *name);
QORImage *read_gif(const char *name);

QORImage *read_png(const char *name);
int write_png(const char *name, QORImage *image);  // 1 written, -1 failure

// PGM/PPM: the reader goes by the magic number (P2, P3, P5, P6).
QORImage *read_pnm(const char *name);
int write_pgm(const char *name, QORImage *image, int binary);
int write_ppm(const char *name, QORImage *image, int binary);

QORImage *read_bmp(const char *name);
int write_bmp(const char *name, QORImage *image);  // 1 written, 0 failure

QORImage *read_pct(const char *name);
