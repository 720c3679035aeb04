// Reading TIFF files through libtiff's RGBA image reader.
//
// libtiff turns every variant it knows (strips or tiles, any compression,
// palette, bilevel, gray, RGB, YCbCr, separated planes, any orientation) into
// 8-bit red, green, blue and alpha per pixel, bottom row first. The picture
// becomes a gray image when every pixel has red = green = blue, else an RGB
// image; alpha is dropped. libtiff's errors and warnings go to the
// standard-error text of the messages, in the form of libtiff's own console
// handlers ("module: text.", "module: Warning, text.").
//
// Before the raster is allocated, the header's size is weighed against the
// file: uncompressed data must fit in the file, and compressed data may not
// promise more than kMaxExpansion bytes per byte of file, far beyond what any
// real compression achieves but small enough that a few hundred bytes cannot
// demand gigabytes.
#include <sys/stat.h>
#include <tiffio.h>

#include <climits>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "formats.h"
#include "messages.h"

namespace {

const uint64_t kMaxExpansion = 8192;

// True when a file of `file_size` bytes (negative: unknown) can hold the
// image data the current directory describes.
bool plausible_size(TIFF *tif, uint32_t height, long long file_size) {
  if (file_size < 0) return true;
  uint64_t row_bytes = TIFFRasterScanlineSize64(tif);
  if (row_bytes == 0) return false;
  if (row_bytes > UINT64_MAX / kMaxExpansion / (height ? height : 1)) return false;
  uint64_t data_bytes = row_bytes * height;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  uint64_t limit = static_cast<uint64_t>(file_size);
  if (compression != COMPRESSION_NONE) limit *= kMaxExpansion;
  return data_bytes <= limit;
}

void append_report(ImageMessages *messages, const char *module, const char *kind,
                   const char *format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  if (module)
    message_err(messages, "%s: %s%s.\n", module, kind, text);
  else
    message_err(messages, "%s%s.\n", kind, text);
}

int error_to_messages(TIFF *, void *user_data, const char *module, const char *format,
                      va_list args) {
  append_report(static_cast<ImageMessages *>(user_data), module, "", format, args);
  return 1;  // handled: libtiff's process-wide handler stays silent
}

int warning_to_messages(TIFF *, void *user_data, const char *module, const char *format,
                        va_list args) {
  append_report(static_cast<ImageMessages *>(user_data), module, "Warning, ", format, args);
  return 1;
}

// Opens `name` with the handlers above attached to this one file.
TIFF *open_tiff(const char *name, ImageMessages *messages) {
  TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, error_to_messages, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, warning_to_messages, messages);
  TIFF *tif = TIFFOpenExt(name, "r", options);
  TIFFOpenOptionsFree(options);
  return tif;
}

}  // namespace

QORImage *read_tiff(const char *name, ImageMessages *messages) {
  if (!name) return nullptr;
  TIFF *tif = open_tiff(name, messages);
  if (!tif) return nullptr;
  struct stat st;
  const long long file_size = stat(name, &st) == 0 && S_ISREG(st.st_mode)
                                  ? static_cast<long long>(st.st_size)
                                  : -1;

  uint32_t width = 0, height = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  const uint64_t pixels = static_cast<uint64_t>(width) * height;
  // The picture must be one an RGB image can hold, and one the file can.
  if (pixels == 0 || pixels > INT_MAX / 3 || !plausible_size(tif, height, file_size)) {
    TIFFClose(tif);
    return nullptr;
  }
  uint32_t *raster = static_cast<uint32_t *>(_TIFFmalloc(static_cast<tmsize_t>(pixels * 4)));
  if (!raster) {
    TIFFClose(tif);
    return nullptr;
  }
  // A damaged strip leaves its pixels as they are: zero, not whatever the
  // allocator handed out.
  std::memset(raster, 0, pixels * 4);
  if (!TIFFReadRGBAImage(tif, width, height, raster, 0)) {
    _TIFFfree(raster);
    TIFFClose(tif);
    return nullptr;
  }

  bool colour = false;
  for (uint64_t i = 0; i < pixels && !colour; ++i) {
    const uint32_t p = raster[i];
    colour = TIFFGetR(p) != TIFFGetG(p) || TIFFGetG(p) != TIFFGetB(p);
  }
  QORImage *image =
      image_create(static_cast<int>(width), static_cast<int>(height), colour ? QOR_RGB : QOR_GRAY);
  if (!image) {
    message_out(messages, "Memory allocation for QORImage failed");
    _TIFFfree(raster);
    TIFFClose(tif);
    return nullptr;
  }
  // Raster row k is picture row height - 1 - k.
  for (uint32_t k = 0; k < height; ++k) {
    const uint32_t *in = raster + static_cast<uint64_t>(k) * width;
    unsigned char *out =
        image->pixels + static_cast<uint64_t>(height - 1 - k) * width * image->bytes_per_pixel;
    for (uint32_t x = 0; x < width; ++x) {
      if (colour) {
        *out++ = static_cast<unsigned char>(TIFFGetR(in[x]));
        *out++ = static_cast<unsigned char>(TIFFGetG(in[x]));
        *out++ = static_cast<unsigned char>(TIFFGetB(in[x]));
      } else {
        *out++ = static_cast<unsigned char>(TIFFGetR(in[x]));
      }
    }
  }
  _TIFFfree(raster);
  TIFFClose(tif);
  return image;
}
