#include <climits>
#include <cstdlib>
#include <cstring>

#include "formats.h"
#include "qorimage.h"

QORImage *image_create(int width, int height, int type) {
  if (width < 0 || height < 0 || type < QOR_GRAY || type > QOR_HSV) return nullptr;
  const int bytes = type == QOR_GRAY ? 1 : 3;
  // The pixel block size is width * height * bytes; refuse what does not fit
  // an int rather than allocate a wrapped-around size.
  if (width > 0 && height > INT_MAX / width / bytes) return nullptr;
  QORImage *image = static_cast<QORImage *>(std::malloc(sizeof(QORImage)));
  if (!image) return nullptr;
  image->width = width;
  image->height = height;
  image->type = type;
  image->bytes_per_pixel = bytes;
  image->bits_per_pixel = 8 * bytes;
  size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * bytes;
  // malloc(0) may return null; keep a valid block for empty images.
  image->pixels = static_cast<unsigned char *>(std::malloc(size ? size : 1));
  if (!image->pixels) {
    std::free(image);
    return nullptr;
  }
  return image;
}

void image_free(QORImage *image) {
  if (!image) return;
  std::free(image->pixels);
  std::free(image);
}

QORImage *image_copy(const QORImage *image) {
  QORImage *copy = image_create(image->width, image->height, image->type);
  if (!copy) return nullptr;
  std::memcpy(copy->pixels, image->pixels,
              static_cast<size_t>(image->width) * image->height * image->bytes_per_pixel);
  return copy;
}

// Dispatch by extension: not built yet.
QORImage *image_read(const char *) { return nullptr; }
int image_write(const char *, QORImage *, int) { return -1; }
