// libFuzzer target for the PCT reader: any bytes as a whole PCT file, fed to
// decode_pct as read_pct would after reading the file.
// A fatal fault (header length field, depth, predictor) must come with its
// message and status and no image.
#include <cstdint>
#include <cstdlib>

#include "pct.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ImageMessages messages;
  QORImage *image = decode_pct(data, size, &messages);
  if (messages.fatal_status != 0 && (image || messages.err.empty())) std::abort();
  if (image) {
    if (image->width < 0 || image->height < 0) std::abort();
    const bool gray = image->type == QOR_GRAY && image->bytes_per_pixel == 1;
    const bool rgb = image->type == QOR_RGB && image->bytes_per_pixel == 3;
    if (!gray && !rgb) std::abort();
    const size_t bytes = static_cast<size_t>(image->width) * image->height * image->bytes_per_pixel;
    if (bytes > 0) {
      volatile unsigned char sink = image->pixels[0] ^ image->pixels[bytes - 1];
      (void)sink;
    }
  }
  image_free(image);
  return 0;
}
