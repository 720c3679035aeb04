// Reading and writing PNG files through libpng.
//
// The reader asks libpng for transformations that turn every supported file
// into 8-bit gray or 8-bit RGB rows, with any transparency composed against
// a background, and lets libpng write each row straight into the image:
//
//   colour type        bit depths   transformations          image
//   gray               1, 2, 4      expand to 8 bits         gray
//   gray               8 / 16       none / strip to 8        gray
//   RGB                8 / 16       none / strip to 8        RGB
//   palette            1, 2, 4, 8   expand to RGB(A)         RGB
//   RGB with alpha     8 / 16       none / strip to 8        RGB
//   gray with alpha    8 / 16       none / strip to 8        gray
//
// The background is the file's bKGD colour when it has one (expanded like
// the pixels), else black; a partly transparent pixel becomes the weighted
// mean of its colour and the background, rounded, on the stored values. libpng 1.6 ignores a
// background of unknown gamma, which would leave the alpha channel in the
// rows; black is therefore given in the screen gamma, at 1.0, which is the
// same black whatever the gamma. As a last guard, a file whose rows would
// not come out as width x bytes-per-pixel 8-bit samples is refused, so no
// row can run over the image. Interlaced files are read through libpng's
// interlace handling.
//
// libpng's errors and warnings go to the standard-error text of the
// messages as "libpng error: %s" and "libpng warning: %s" lines, the form of
// libpng's own console handlers; an error returns to the recovery point set
// with setjmp. The functions that hold a
// recovery point keep only plain C objects in their frame, so that the
// long jump skips no destructor.
#include <png.h>
#include <sys/stat.h>

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "file_util.h"
#include "formats.h"
#include "messages.h"

namespace {

// Deflate never expands data by more than a factor of 1032, so a file can
// hold no more image data than 1032 times its own size.
const unsigned long long kMaxInflateRatio = 1032;

// Bytes of the filtered image data a header promises (one filter byte and
// the packed samples per row, as for a file without interlacing, which is the
// smaller of the two layouts within a few bytes a row).
unsigned long long promised_bytes(png_uint_32 width, png_uint_32 height, int channels, int depth) {
  unsigned long long row_bits = static_cast<unsigned long long>(width) * channels * depth;
  return static_cast<unsigned long long>(height) * (1 + (row_bits + 7) / 8);
}

void error_to_messages(png_structp png, png_const_charp text) {
  message_err(static_cast<ImageMessages *>(png_get_error_ptr(png)), "libpng error: %s\n", text);
  png_longjmp(png, 1);
}

void warning_to_messages(png_structp png, png_const_charp text) {
  message_err(static_cast<ImageMessages *>(png_get_error_ptr(png)), "libpng warning: %s\n", text);
}

// Writes the PNG stream of `image` to `f`; false after a libpng error. Only
// plain C objects live in this frame (see above).
bool write_rows(FILE *f, const QORImage *image, int colour_type, png_bytep *rows,
                ImageMessages *messages) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, messages, error_to_messages,
                                            warning_to_messages);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image->width),
               static_cast<png_uint_32>(image->height), 8, colour_type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

QORImage *read_png(const char *name, ImageMessages *messages) {
  FILE *f = name ? std::fopen(name, "rb") : nullptr;
  if (!f) return nullptr;
  struct stat st;
  const long long file_size =
      fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : -1;

  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, messages, error_to_messages,
                                           warning_to_messages);
  if (!png) {
    std::fclose(f);
    return nullptr;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    std::fclose(f);
    return nullptr;
  }
  QORImage *volatile image = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    // libpng has given its message.
    png_destroy_read_struct(&png, &info, nullptr);
    image_free(image);
    std::fclose(f);
    return nullptr;
  }

  png_init_io(png, f);
  png_read_info(png, info);
  png_uint_32 width, height;
  int depth, colour_type, interlace;
  png_get_IHDR(png, info, &width, &height, &depth, &colour_type, &interlace, nullptr, nullptr);

  bool supported = true;
  int type = QOR_GRAY;
  switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY:
      if (depth < 8) png_set_expand(png);
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      break;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_RGB_ALPHA:
      type = QOR_RGB;
      break;
    case PNG_COLOR_TYPE_PALETTE:
      type = QOR_RGB;
      png_set_expand(png);
      break;
    default:
      supported = false;
  }
  const int bytes_per_pixel = type == QOR_GRAY ? 1 : 3;
  if (supported && file_size >= 0 &&
      promised_bytes(width, height, png_get_channels(png, info), depth) >
          kMaxInflateRatio * static_cast<unsigned long long>(file_size))
    supported = false;
  if (supported && static_cast<unsigned long long>(width) * height * bytes_per_pixel > INT_MAX)
    supported = false;

  if (supported) {
    if (depth == 16) png_set_strip_16(png);
    // Samples are taken as stored: without this, libpng 1.6 composes in
    // linear light whenever the file has a gAMA chunk, and partly
    // transparent pixels would come out brighter than the plain weighted
    // mean of pixel and background that other decoders give.
    png_set_gamma(png, 1.0, 1.0);
    png_color_16p file_background;
    if (png_get_bKGD(png, info, &file_background)) {
      png_set_background(png, file_background, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
    } else {
      png_color_16 black = {0, 0, 0, 0, 0};
      png_set_background(png, &black, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    }
  }
  int passes = 1;
  if (supported) {
    passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_bit_depth(png, info) != 8 || png_get_channels(png, info) != bytes_per_pixel ||
        png_get_rowbytes(png, info) != static_cast<size_t>(width) * bytes_per_pixel)
      supported = false;
  }
  if (supported) image = image_create(static_cast<int>(width), static_cast<int>(height), type);
  if (!image) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return nullptr;
  }

  // With interlacing each pass fills in more pixels of the same rows.
  const size_t row_bytes = static_cast<size_t>(width) * bytes_per_pixel;
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y)
      png_read_row(png, image->pixels + y * row_bytes, nullptr);
  png_read_end(png, nullptr);

  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return image;
}

Status write_png(const char *name, QORImage *image, ImageMessages *messages) {
  if (!image || !name) return Status::invalid_argument;
  int colour_type;
  if (image->type == QOR_GRAY && image->bytes_per_pixel == 1) {
    colour_type = PNG_COLOR_TYPE_GRAY;
  } else if (image->type == QOR_RGB && image->bytes_per_pixel == 3) {
    colour_type = PNG_COLOR_TYPE_RGB;
  } else {
    return Status::invalid_argument;  // HSV has no PNG form
  }
  // One row address per image row, however tall the image.
  const size_t height = static_cast<size_t>(image->height);
  const size_t row_bytes = static_cast<size_t>(image->width) * image->bytes_per_pixel;
  std::vector<png_bytep> rows(height);
  for (size_t i = 0; i < height; ++i) rows[i] = image->pixels + i * row_bytes;

  OutputFile file;
  if (file.open(name) != Status::ok) return Status::cannot_open;
  if (!write_rows(file.stream(), image, colour_type, rows.data(), messages)) {
    file.discard();
    return Status::cannot_write;
  }
  return file.commit();
}
