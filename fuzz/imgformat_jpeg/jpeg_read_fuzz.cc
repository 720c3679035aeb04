// Feeds arbitrary bytes to image_read as a ".jpg" file. Every input must give
// null or a whole image of consistent size, never a crash or a leak.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qorimage.h"

namespace {

// One scratch file per fuzzing process, removed at exit.
char scratch_name[] = "/tmp/qor_jpeg_fuzz_XXXXXX.jpg";

void remove_scratch() { std::remove(scratch_name); }

bool make_scratch() {
  const int fd = mkstemps(scratch_name, 4);
  if (fd < 0) return false;
  close(fd);
  std::atexit(remove_scratch);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const bool ready = make_scratch();
  if (!ready) std::abort();
  std::FILE *file = std::fopen(scratch_name, "wb");
  if (!file) std::abort();
  if (size) std::fwrite(data, 1, size, file);
  std::fclose(file);
  QORImage *image = image_read(scratch_name);
  if (image) {
    if (image->width <= 0 || image->height <= 0 || (image->type != QOR_GRAY && image->type != QOR_RGB))
      std::abort();
    // Touch the first and last byte of the block.
    const size_t bytes = static_cast<size_t>(image->width) * image->height * image->bytes_per_pixel;
    volatile unsigned char sink = image->pixels[0] ^ image->pixels[bytes - 1];
    (void)sink;
    image_free(image);
  }
  return 0;
}
