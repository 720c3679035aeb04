// Drawing primitives: line, square mark and one-pixel ring, painted into a
// QORImage in place.
#include <cmath>
#include <cstddef>

#include "qorimage.h"

namespace {

bool inside(const QORImage *image, long long x, long long y) {
  return x >= 0 && y >= 0 && x < image->width && y < image->height;
}

// Gray images take 255 whatever the colour; the other types take the three
// channels in order.
void paint(QORImage *image, int x, int y, ImageColour colour) {
  unsigned char *p = image->pixels + (static_cast<size_t>(y) * image->width + x) *
                                         static_cast<size_t>(image->bytes_per_pixel);
  if (image->type == QOR_GRAY) {
    p[0] = 255;
  } else {
    p[0] = colour.c[0];
    p[1] = colour.c[1];
    p[2] = colour.c[2];
  }
}

// A pixel of the line walk is painted at the absolute values of its
// coordinates. With both end points inside the image the walk stays inside;
// on images so wide that float positions lose whole pixels it could stray,
// so a pixel outside the image is skipped rather than written.
void paint_walked(QORImage *image, int x, int y, ImageColour colour) {
  const long long ax = x < 0 ? -static_cast<long long>(x) : x;
  const long long ay = y < 0 ? -static_cast<long long>(y) : y;
  if (inside(image, ax, ay)) paint(image, static_cast<int>(ax), static_cast<int>(ay), colour);
}

bool drawable(const QORImage *image) {
  return image && image->pixels && image->width > 0 && image->height > 0;
}

}  // namespace

// An incremental slope walk in single precision (not Bresenham): the slope
// and intercept are rounded to float, and each step's other coordinate is
// the truncation of the float expression coordinate * m + b. Keeping every
// quantity in float matters: the same walk in double moves the ends of some
// lines by a pixel.
//
// Both end points must lie inside the image. A line with an end point
// outside is not drawn at all, rather than written past the pixel block.
void image_draw_line(QORImage *image, int x1, int y1, int x2, int y2, ImageColour colour) {
  if (!drawable(image) || !inside(image, x1, y1) || !inside(image, x2, y2)) return;
  paint(image, x1, y1, colour);
  const int dx = x2 - x1;
  const int dy = y2 - y1;
  if (std::abs(dx) > std::abs(dy)) {
    // Flatter than 45 degrees: one pixel per column.
    const float m = static_cast<float>(dy) / static_cast<float>(dx);
    const float b = static_cast<float>(y1) - static_cast<float>(x1) * m;
    const int step = dx >= 0 ? 1 : -1;
    int x = x1;
    while (x != x2) {
      x += step;
      const float row = static_cast<float>(x) * m + b;
      const int y = static_cast<int>(row);  // truncation toward zero
      paint_walked(image, x, y, colour);
    }
  } else if (dy != 0) {
    // 45 degrees and steeper: one pixel per row.
    const float m = static_cast<float>(dx) / static_cast<float>(dy);
    const float b = static_cast<float>(x1) - static_cast<float>(y1) * m;
    const int step = dy >= 0 ? 1 : -1;
    int y = y1;
    while (y != y2) {
      y += step;
      const float column = static_cast<float>(y) * m + b;
      const int x = static_cast<int>(column);
      paint_walked(image, x, y, colour);
    }
  }
}

namespace {

long long clamp(long long v, long long low, long long high) {
  if (v < low) v = low;
  if (v > high) v = high;
  return v;
}

}  // namespace

// The outline of a (2s + 1) x (2s + 1) square centred on (x, y). Near a
// border the square is squeezed against the border rather than dropped.
void image_draw_mark(QORImage *image, int x, int y, int half_size, ImageColour colour) {
  if (!drawable(image)) return;
  // In 64 bits so that no centre and half-size can overflow.
  const long long s = half_size;
  const int left = static_cast<int>(clamp(x - s, 0, image->width - 1));
  const int right = static_cast<int>(clamp(x + s, 0, image->width - 1));
  const int top = static_cast<int>(clamp(y - s, 0, image->height - 1));
  const int bottom = static_cast<int>(clamp(y + s, 0, image->height - 1));
  image_draw_line(image, left, top, left, bottom, colour);
  image_draw_line(image, left, top, right, top, colour);
  image_draw_line(image, right, bottom, right, top, colour);
  image_draw_line(image, right, bottom, left, bottom, colour);
}

// A ring one pixel wide: every pixel whose centre lies at a distance d from
// (cx, cy) with r <= d < r + 1. A negative radius fills the disc of radius
// r + 1. Only the part inside the image is painted.
void image_draw_disc(QORImage *image, int cx, int cy, double radius, ImageColour colour) {
  if (!drawable(image) || std::isnan(radius)) return;
  if (cx < 0 || cx > image->width || cy < 0 || cy > image->height) return;
  const double outer = radius + 1.0;
  const double inner = radius < 0.0 ? 0.0 : radius;
  // The square around the circle, one pixel wider on each side, cut to the
  // image. Done in double before any conversion, so that a huge radius
  // cannot overflow the integer positions.
  const double first_column = cx - outer - 1.0;
  const double first_row = cy - outer - 1.0;
  const double span = 2.0 * outer + 2.0;
  if (!(span >= 1.0) || first_column >= image->width || first_row >= image->height) return;
  const int x0 = first_column < 0.0 ? 0 : static_cast<int>(first_column);
  const int y0 = first_row < 0.0 ? 0 : static_cast<int>(first_row);
  const int columns = span >= image->width - x0 ? image->width - x0 : static_cast<int>(span);
  const int rows = span >= image->height - y0 ? image->height - y0 : static_cast<int>(span);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      const double px = x0 + j + 0.5 - cx;
      const double py = y0 + i + 0.5 - cy;
      const double d = std::sqrt(px * px + py * py);
      if (inner <= d && d < outer) paint(image, x0 + j, y0 + i, colour);
    }
  }
}
