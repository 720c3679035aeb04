// libFuzzer target for the PCT reader: any bytes as a whole PCT file, fed to
// decode_pct as read_pct would after reading the file.
//
// The reader's format errors (header length field, depth, predictor) end the
// process in the programs. Here a fatal handler that returns is installed
// instead: the reader then abandons the file and gives null, so the fuzzer
// can go on, and a fault after the handler returned is still caught.
#include <cstdint>
#include <cstdlib>

#include "fuzz_support.h"
#include "pct.h"

namespace {
void note_fatal(const char *, int) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  pct_set_fatal_handler(note_fatal);
  fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  QORImage *image = decode_pct(data, size);
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
