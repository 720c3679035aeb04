// libFuzzer target for the GIF reader: any bytes as a whole GIF stream, fed
// to decode_gif as read_gif would after reading the file. The result is null
// or an RGB image of consistent size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "gif.h"

namespace {

// Largest declared image the fuzzer hands to the decoder. A dozen bytes can
// declare an image of tens of millions of pixels, which the decoder builds
// whatever data follows; at that size one input takes about a second under
// the sanitizers and the fuzzer would do nothing else. The decoder's own
// size limit and the big images are covered by the unit tests.
constexpr long kFuzzMaxPixels = 1L << 20;

// Walks the block structure as far as it is plain and returns the largest
// width x height of an image descriptor (0 when there is none). Anything
// unexpected ends the walk; the decoder then sees the input as it is.
long largest_declared_image(const uint8_t *d, size_t size) {
  auto byte = [&](size_t i) -> unsigned { return i < size ? d[i] : 0u; };
  long largest = 0;
  if (size < 13) return 0;
  size_t i = 13;
  if (byte(10) & 0x80) i += 3u * (2u << (byte(10) & 7));
  while (i < size) {
    const unsigned kind = byte(i);
    if (kind == 0x21) {  // extension: label, then sub-blocks
      i += 2;
    } else if (kind == 0x2C) {  // image descriptor
      const long w = byte(i + 5) | (byte(i + 6) << 8);
      const long h = byte(i + 7) | (byte(i + 8) << 8);
      largest = std::max(largest, w * h);
      const unsigned flags = byte(i + 9);
      i += 10;
      if (flags & 0x80) i += 3u * (2u << (flags & 7));
      i += 1;  // LZW minimum code size
    } else {
      break;
    }
    while (i < size && byte(i) != 0) i += 1u + byte(i);  // sub-blocks
    i += 1;
  }
  return largest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (largest_declared_image(data, size) > kFuzzMaxPixels) return -1;  // not added to the corpus
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
