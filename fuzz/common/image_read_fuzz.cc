// libFuzzer target for image_read: any bytes as a file whose name ends in
// QOR_FUZZ_SUFFIX, so the extension dispatch picks one format's reader.
// Every input must give null or a whole image of consistent size, never a
// crash, a leak or undefined behaviour.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "qorimage.h"

#ifndef QOR_FUZZ_SUFFIX
#error "QOR_FUZZ_SUFFIX names the file extension of the format under test"
#endif

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_path = fuzz::scratch_path("input" QOR_FUZZ_SUFFIX);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::write_scratch(g_path, data, size);
  ImageMessages messages;
  QORImage *image = image_read(g_path.c_str(), &messages);
  // A fatal fault gives its message and no image.
  if (messages.fatal_status != 0 && (image || messages.err.empty())) std::abort();
  if (image) {
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
    image_free(image);
  }
  return 0;
}
