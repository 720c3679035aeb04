// Drawing primitives, pixel for pixel.
#include <cmath>
#include <cstring>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "qorimage.h"

namespace {

using Pixels = std::set<std::pair<int, int>>;  // (x, y)

const ImageColour kColour = {{10, 20, 30}};

// A cleared image; the destructor-free helpers below release it.
QORImage *blank(int width, int height, int type) {
  QORImage *image = image_create(width, height, type);
  std::memset(image->pixels, 0, static_cast<size_t>(width) * height * image->bytes_per_pixel);
  return image;
}

// Every pixel that is no longer zero.
Pixels painted(const QORImage *image) {
  Pixels result;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x)
      for (int c = 0; c < image->bytes_per_pixel; ++c)
        if (image->pixels[(y * image->width + x) * image->bytes_per_pixel + c] != 0)
          result.insert({x, y});
  return result;
}

Pixels line(int x1, int y1, int x2, int y2) {
  QORImage *image = blank(20, 15, QOR_GRAY);
  image_draw_line(image, x1, y1, x2, y2, kColour);
  Pixels result = painted(image);
  image_free(image);
  return result;
}

TEST(DrawLine, WorkedExamples) {
  EXPECT_EQ(line(0, 0, 0, 0), (Pixels{{0, 0}}));
  // Flatter than 45 degrees: along columns, rows truncated.
  EXPECT_EQ(line(0, 0, 4, 2), (Pixels{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}));
  // Exactly 45 degrees: along rows.
  EXPECT_EQ(line(0, 0, 2, 2), (Pixels{{0, 0}, {1, 1}, {2, 2}}));
  // Reversed: the same pixels as the forward line.
  EXPECT_EQ(line(4, 2, 0, 0), (Pixels{{4, 2}, {3, 1}, {2, 1}, {1, 0}, {0, 0}}));
  // Steep, going up and to the left.
  EXPECT_EQ(line(3, 6, 1, 0),
            (Pixels{{3, 6}, {2, 5}, {2, 4}, {2, 3}, {1, 2}, {1, 1}, {1, 0}}));
  EXPECT_EQ(line(5, 3, 12, 3).size(), 8u);
  EXPECT_EQ(line(7, 14, 7, 2).size(), 13u);
}

TEST(DrawLine, WalkIsSinglePrecision) {
  // m = 1/3 and b = 4 - 22m rounded to float give 25m + b = 5.0000005 in
  // float, so the walk ends on (25, 5); the same sums in double give
  // 4.9999999999999991 and would end on (25, 4).
  QORImage *image = blank(30, 10, QOR_GRAY);
  image_draw_line(image, 22, 4, 25, 5, kColour);
  EXPECT_EQ(painted(image), (Pixels{{22, 4}, {23, 4}, {24, 4}, {25, 5}}));
  image_free(image);
}

TEST(DrawLine, GrayIs255AndRgbTakesTheChannels) {
  QORImage *gray = blank(5, 3, QOR_GRAY);
  image_draw_line(gray, 0, 1, 4, 1, kColour);
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(gray->pixels[5 + x], 255);
    EXPECT_EQ(gray->pixels[x], 0);
    EXPECT_EQ(gray->pixels[10 + x], 0);
  }
  image_free(gray);

  QORImage *rgb = blank(5, 3, QOR_RGB);
  image_draw_line(rgb, 2, 0, 2, 2, kColour);
  for (int y = 0; y < 3; ++y) {
    const unsigned char *p = rgb->pixels + (y * 5 + 2) * 3;
    EXPECT_EQ(p[0], 10);
    EXPECT_EQ(p[1], 20);
    EXPECT_EQ(p[2], 30);
  }
  EXPECT_EQ(painted(rgb).size(), 3u);
  image_free(rgb);
}

TEST(DrawLine, EndPointOutsideDrawsNothing) {
  QORImage *image = blank(10, 10, QOR_RGB);
  image_draw_line(image, -1, 0, 5, 5, kColour);
  image_draw_line(image, 0, 0, 10, 5, kColour);
  image_draw_line(image, 3, 3, 3, 10, kColour);
  image_draw_line(image, -2147483647 - 1, 0, 2147483647, 9, kColour);
  EXPECT_TRUE(painted(image).empty());
  image_free(image);
}

// The border of the square from (left, top) to (right, bottom).
Pixels square(int left, int top, int right, int bottom) {
  Pixels result;
  for (int x = left; x <= right; ++x) {
    result.insert({x, top});
    result.insert({x, bottom});
  }
  for (int y = top; y <= bottom; ++y) {
    result.insert({left, y});
    result.insert({right, y});
  }
  return result;
}

TEST(DrawMark, OutlineOfTheSquare) {
  QORImage *image = blank(20, 15, QOR_GRAY);
  image_draw_mark(image, 10, 10, 2, kColour);
  const Pixels marked = painted(image);
  EXPECT_EQ(marked.size(), 16u);
  EXPECT_EQ(marked, square(8, 8, 12, 12));
  EXPECT_EQ(marked.count({10, 10}), 0u);
  image_free(image);
}

TEST(DrawMark, SqueezedAgainstTheBorder) {
  QORImage *image = blank(20, 15, QOR_GRAY);
  image_draw_mark(image, 0, 0, 2, kColour);
  EXPECT_EQ(painted(image), square(0, 0, 2, 2));
  image_free(image);

  image = blank(20, 15, QOR_GRAY);
  image_draw_mark(image, 19, 14, 2, kColour);
  EXPECT_EQ(painted(image), square(17, 12, 19, 14));
  image_free(image);

  // A half-size far beyond the image frames the whole image.
  image = blank(20, 15, QOR_RGB);
  image_draw_mark(image, 5, 5, 2147483647, kColour);
  EXPECT_EQ(painted(image), square(0, 0, 19, 14));
  image_free(image);

  // A centre far outside squeezes the square onto the nearest corner.
  image = blank(20, 15, QOR_GRAY);
  image_draw_mark(image, -2147483647 - 1, 2147483647, 2, kColour);
  EXPECT_EQ(painted(image), (Pixels{{0, 14}}));
  image_free(image);

  // Nothing to paint on an empty image.
  image = image_create(0, 0, QOR_GRAY);
  image_draw_mark(image, 0, 0, 2, kColour);
  image_draw_disc(image, 0, 0, 2.0, kColour);
  image_free(image);
}

// Checks that exactly the pixels with inner <= d < outer are painted.
void expect_ring(const QORImage *image, double cx, double cy, double inner, double outer) {
  const Pixels got = painted(image);
  Pixels want;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x) {
      const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      if (inner <= d && d < outer) want.insert({x, y});
    }
  EXPECT_EQ(got, want);
}

TEST(DrawDisc, RingOnePixelWide) {
  QORImage *image = blank(20, 20, QOR_GRAY);
  image_draw_disc(image, 10, 10, 2.0, kColour);
  expect_ring(image, 10, 10, 2.0, 3.0);
  // The pixel whose corner touches the centre (d = 0.71) stays clear.
  EXPECT_EQ(image->pixels[10 * 20 + 10], 0);
  // (12, 10) has its centre at distance 2.5.
  EXPECT_EQ(image->pixels[10 * 20 + 12], 255);
  image_free(image);
}

TEST(DrawDisc, NegativeRadiusFillsAndBordersClip) {
  QORImage *image = blank(20, 20, QOR_GRAY);
  // Radius -0.25: every centre nearer than 0.75, the four around (5, 5).
  image_draw_disc(image, 5, 5, -0.25, kColour);
  expect_ring(image, 5, 5, 0.0, 0.75);
  EXPECT_EQ(painted(image), (Pixels{{4, 4}, {5, 4}, {4, 5}, {5, 5}}));
  image_free(image);

  image = blank(12, 9, QOR_RGB);
  image_draw_disc(image, 0, 0, 3.0, kColour);
  expect_ring(image, 0, 0, 3.0, 4.0);
  image_free(image);

  // A centre on the far edge (cx = width) is still drawn.
  image = blank(12, 9, QOR_GRAY);
  image_draw_disc(image, 12, 9, 1.5, kColour);
  expect_ring(image, 12, 9, 1.5, 2.5);
  EXPECT_FALSE(painted(image).empty());
  image_free(image);

  // Centres outside, and radii that are not numbers or far too large.
  image = blank(12, 9, QOR_GRAY);
  image_draw_disc(image, -1, 4, 2.0, kColour);
  image_draw_disc(image, 13, 4, 2.0, kColour);
  image_draw_disc(image, 4, 10, 2.0, kColour);
  image_draw_disc(image, 4, 4, std::nan(""), kColour);
  image_draw_disc(image, 4, 4, 1e300, kColour);
  image_draw_disc(image, 4, 4, -1e300, kColour);
  EXPECT_TRUE(painted(image).empty());
  image_draw_disc(image, 4, 4, 30.0, kColour);  // every centre is nearer than 30
  EXPECT_TRUE(painted(image).empty());
  image_free(image);
}

}  // namespace
