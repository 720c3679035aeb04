// The in-memory image of the toolkit, reading and writing image files chosen
// by the file name's extension, and the drawing primitives.
#pragma once
#include <string>

#include "status.h"

// Pixel types.
enum { QOR_GRAY = 0, QOR_RGB = 1, QOR_HSV = 2 };

// Rows are stored top row first, left to right, without padding; the pixel
// at column x, row y starts at byte (y * width + x) * bytes_per_pixel.
struct QORImage {
  int width;
  int height;
  int bits_per_pixel;   // 8 for gray, 24 for RGB and HSV
  int bytes_per_pixel;  // 1 for gray, 3 for RGB and HSV
  int type;             // 0 gray, 1 RGB, 2 HSV
  unsigned char *pixels;
};

// Three channel bytes (red, green, blue for an RGB image).
struct ImageColour {
  unsigned char c[3];
};

QORImage *image_create(int width, int height, int type);
void image_free(QORImage *image);
QORImage *image_copy(const QORImage *image);

// What the readers and writers have to say. They print nothing themselves:
// text meant for standard output is appended to `out`, text meant for
// standard error to `err`, and a program shows `out` first, then `err`.
// `fatal_status` is non-zero after a fault that the decoders class as fatal
// (the PCT reader's faults, a JPEG library error while writing); it is the
// exit status the toolkit's programs end with after printing the text.
struct ImageMessages {
  std::string out;
  std::string err;
  int fatal_status = 0;
};

// Reads a file by its extension (case-insensitive); null on failure. The
// messages, when given, receive the readers' text.
QORImage *image_read(const char *name, ImageMessages *messages = nullptr);
// Writes by extension (case-sensitive) through an atomically replaced output
// file. `option` is the JPEG quality for JPEG, and selects binary (non-zero)
// or ASCII (zero) PGM/PPM. Status::ok when written; Status::invalid_argument
// for a name that selects no writer (no extension, an unknown one, or a
// format without a writer: TIFF, GIF, PCT) or an image the format cannot
// hold; Status::cannot_open or Status::cannot_write when the file could not
// be made or written, in which case an earlier file of that name stays.
Status image_write(const char *name, QORImage *image, int option,
                   ImageMessages *messages = nullptr);

void image_draw_line(QORImage *image, int x1, int y1, int x2, int y2, ImageColour colour);
void image_draw_mark(QORImage *image, int x, int y, int half_size, ImageColour colour);
void image_draw_disc(QORImage *image, int cx, int cy, double radius, ImageColour colour);
