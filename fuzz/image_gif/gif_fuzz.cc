// libFuzzer target for the GIF reader: any bytes as a whole GIF stream, fed
// to decode_gif as read_gif would after reading the file. The result is null
// or an RGB image of consistent size.
#include <cstdint>
#include <cstdlib>

#include "gif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  QORImage *image = decode_gif(data, size);
  if (image) {
    if (image->width < 0 || image->height < 0 || image->type != QOR_RGB ||
        image->bytes_per_pixel != 3 ||
        static_cast<long>(image->width) * image->height > kGifMaxPixels)
      std::abort();
    const size_t bytes = static_cast<size_t>(image->width) * image->height * 3;
    if (bytes > 0) {
      volatile unsigned char sink = image->pixels[0] ^ image->pixels[bytes - 1];
      (void)sink;
    }
  }
  image_free(image);
  return 0;
}
