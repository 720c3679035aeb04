// libFuzzer target for the PCT reader: any bytes as a whole PCT file, fed to
// decode_pct as read_pct would after reading the file.
// A fatal fault (header length field, depth, predictor) must come with its
// message and status and no image.
#include <cstdint>

#include "image_check.h"
#include "pct.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  ImageMessages messages;
  QORImage *image = decode_pct(data, size, &messages);
  fuzz::check_image(image, messages);
  image_free(image);
  return 0;
}
