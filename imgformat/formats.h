// The individual format readers and writers behind image_read/image_write.
// Each reader returns a new image owned by the caller, or null; each writer
// returns a status. Their text goes to `messages` (which may be null).
#pragma once
#include "qorimage.h"

QORImage *read_jpeg(const char *name, ImageMessages *messages = nullptr);
Status write_jpeg(const char *name, QORImage *image, int quality, ImageMessages *messages = nullptr);

QORImage *read_tiff(const char *name, ImageMessages *messages = nullptr);
QORImage *read_gif(const char *name, ImageMessages *messages = nullptr);

QORImage *read_png(const char *name, ImageMessages *messages = nullptr);
Status write_png(const char *name, QORImage *image, ImageMessages *messages = nullptr);

// PGM/PPM: the reader goes by the magic number (P2, P3, P5, P6).
QORImage *read_pnm(const char *name, ImageMessages *messages = nullptr);
Status write_pgm(const char *name, QORImage *image, int binary, ImageMessages *messages = nullptr);
Status write_ppm(const char *name, QORImage *image, int binary, ImageMessages *messages = nullptr);

QORImage *read_bmp(const char *name, ImageMessages *messages = nullptr);
Status write_bmp(const char *name, QORImage *image, ImageMessages *messages = nullptr);

QORImage *read_pct(const char *name, ImageMessages *messages = nullptr);
