// The in-memory image of the toolkit, reading and writing image files chosen
// by the file name's extension, and the drawing primitives.
#pragma once

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

// Reads a file by its extension (case-insensitive); null on failure.
QORImage *image_read(const char *name);
// Writes by extension (case-sensitive). `option` is the JPEG quality for
// JPEG, and selects binary (non-zero) or ASCII (zero) PGM/PPM.
int image_write(const char *name, QORImage *image, int option);

void image_draw_line(QORImage *image, int x1, int y1, int x2, int y2, ImageColour colour);
void image_draw_mark(QORImage *image, int x, int y, int half_size, ImageColour colour);
void image_draw_disc(QORImage *image, int cx, int cy, double radius, ImageColour colour);
