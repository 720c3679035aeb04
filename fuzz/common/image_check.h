// The check every image fuzz target makes of a reader's result: a fatal
// fault comes with its message and no image; an image is gray or RGB of a
// consistent size, and its whole pixel block can be read.
#pragma once
#include <cstddef>
#include <cstdlib>

#include "qorimage.h"

namespace fuzz {

inline void check_image(const QORImage *image, const ImageMessages &messages) {
  if (messages.fatal_status != 0 && (image || messages.err.empty())) std::abort();
  if (!image) return;
  if (image->width < 0 || image->height < 0) std::abort();
  const bool gray = image->type == QOR_GRAY && image->bytes_per_pixel == 1 && image->bits_per_pixel == 8;
  const bool rgb = image->type == QOR_RGB && image->bytes_per_pixel == 3 && image->bits_per_pixel == 24;
  if (!gray && !rgb) std::abort();
  // Touch the first and last byte of the block, so that a block smaller
  // than the image claims is caught by the address checks.
  const size_t bytes = static_cast<size_t>(image->width) * image->height * image->bytes_per_pixel;
  if (bytes > 0) {
    volatile unsigned char sink = image->pixels[0] ^ image->pixels[bytes - 1];
    (void)sink;
  }
}

}  // namespace fuzz
