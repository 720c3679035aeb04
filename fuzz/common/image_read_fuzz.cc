// libFuzzer target for image_read: any bytes as a file whose name ends in
// QOR_FUZZ_SUFFIX, so the extension dispatch picks one format's reader.
// Every input must give null or a whole image of consistent size, never a
// crash, a leak or undefined behaviour.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "image_check.h"
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
  fuzz::check_image(image, messages);
  image_free(image);
  return 0;
}
