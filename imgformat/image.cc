// QORImage life cycle and the choice of reader or writer by extension.
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "extension.h"
#include "formats.h"
#include "messages.h"
#include "qorimage.h"

namespace {

void append_text(std::string *text, const char *format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    text->append(small, static_cast<size_t>(n));
    return;
  }
  const size_t start = text->size();
  text->resize(start + static_cast<size_t>(n) + 1);
  std::vsnprintf(&(*text)[start], static_cast<size_t>(n) + 1, format, args);
  text->resize(start + static_cast<size_t>(n));
}

}  // namespace

void message_out(ImageMessages *messages, const char *format, ...) {
  if (!messages) return;
  va_list args;
  va_start(args, format);
  append_text(&messages->out, format, args);
  va_end(args);
}

void message_err(ImageMessages *messages, const char *format, ...) {
  if (!messages) return;
  va_list args;
  va_start(args, format);
  append_text(&messages->err, format, args);
  va_end(args);
}

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
  const size_t size = static_cast<size_t>(width) * static_cast<size_t>(height) * bytes;
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
  if (!image || !image->pixels) return nullptr;
  QORImage *copy = image_create(image->width, image->height, image->type);
  if (!copy) return nullptr;
  // The size comes from the new record, so a source whose bytes-per-pixel
  // field disagrees with its type cannot make the copy overrun.
  std::memcpy(copy->pixels, image->pixels,
              static_cast<size_t>(copy->width) * copy->height * copy->bytes_per_pixel);
  return copy;
}

int image_extension(const char *name, char extension[IMAGE_EXTENSION_MAX + 1], bool lower_case) {
  std::memset(extension, 0, IMAGE_EXTENSION_MAX + 1);
  const size_t n = std::strlen(name);
  // Walk back from the end to the last dot; stop at the first character,
  // which cannot start an extension (".jpg" alone is a name, not a type).
  size_t k = 0;
  while (k < n && name[n - k] != '.') ++k;
  if (k == n) return 0;
  if (k > IMAGE_EXTENSION_MAX) return static_cast<int>(k < INT_MAX ? k : INT_MAX);
  for (size_t i = 0; i < k; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[n - k + i]);
    extension[i] = static_cast<char>(lower_case ? std::tolower(c) : c);
  }
  return static_cast<int>(k);
}

namespace {

struct ExtensionEntry {
  const char *extension;
  ImageFormatKind kind;
};

// Compared in this order; the first row that agrees wins.
const ExtensionEntry kExtensionTable[] = {
    {".jpg", FORMAT_JPEG}, {".jpeg", FORMAT_JPEG}, {".tif", FORMAT_TIFF}, {".tiff", FORMAT_TIFF},
    {".gif", FORMAT_GIF},  {".png", FORMAT_PNG},   {".pgm", FORMAT_PGM},  {".ppm", FORMAT_PPM},
    {".bmp", FORMAT_BMP},  {".pct", FORMAT_PCT},
};

}  // namespace

ImageFormatKind image_format_of(const char *name, bool lower_case) {
  if (!name) return FORMAT_NONE;
  char extension[IMAGE_EXTENSION_MAX + 1];
  const int k = image_extension(name, extension, lower_case);
  // An extension that does not fit the buffer agrees with no row.
  if (k == 0 || k > IMAGE_EXTENSION_MAX) return FORMAT_NONE;
  for (const ExtensionEntry &entry : kExtensionTable)
    if (std::strncmp(extension, entry.extension, static_cast<size_t>(k)) == 0) return entry.kind;
  return FORMAT_NONE;
}

QORImage *image_read(const char *name, ImageMessages *messages) {
  // Reading ignores the case of the extension.
  switch (image_format_of(name, true)) {
    case FORMAT_JPEG: return read_jpeg(name, messages);
    case FORMAT_TIFF: return read_tiff(name, messages);
    case FORMAT_GIF: return read_gif(name, messages);
    case FORMAT_PNG: return read_png(name, messages);
    // The PNM reader goes by the file's magic number, not the extension.
    case FORMAT_PGM:
    case FORMAT_PPM: return read_pnm(name, messages);
    case FORMAT_BMP: return read_bmp(name, messages);
    case FORMAT_PCT: return read_pct(name, messages);
    case FORMAT_NONE: break;
  }
  return nullptr;
}

Status image_write(const char *name, QORImage *image, int option, ImageMessages *messages) {
  // Writing is case-sensitive: "x.JPG" selects no writer.
  switch (image_format_of(name, false)) {
    case FORMAT_JPEG: return write_jpeg(name, image, option, messages);
    case FORMAT_PNG: return write_png(name, image, messages);
    case FORMAT_PGM: return write_pgm(name, image, option, messages);
    case FORMAT_PPM: return write_ppm(name, image, option, messages);
    case FORMAT_BMP: return write_bmp(name, image, messages);
    case FORMAT_TIFF:
    case FORMAT_GIF:
    case FORMAT_PCT:  // no writer for these formats
    case FORMAT_NONE: break;
  }
  return Status::invalid_argument;
}
