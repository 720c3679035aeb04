// Small helpers shared by the format tests: an owning image handle and the
// pixel block of an image as a byte string.
#pragma once
#include <memory>
#include <string>

#include "qorimage.h"

struct ImageDeleter {
  void operator()(QORImage *image) const { image_free(image); }
};
using ImagePtr = std::unique_ptr<QORImage, ImageDeleter>;

inline std::string pixels_of(const QORImage *image) {
  return std::string(reinterpret_cast<const char *>(image->pixels),
                     static_cast<size_t>(image->width) * image->height * image->bytes_per_pixel);
}
