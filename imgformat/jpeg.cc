// JPEG reading and writing over the IJG library's release-6 interface.
#include <sys/stat.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "formats.h"
#include "qorimage.h"

// Both functions talk to a C library that reports errors through a callback;
// the reader leaves that callback with longjmp. Nothing with a destructor
// lives across the jump, and what changes after setjmp is volatile.

namespace {

// The library's standard error manager with the reader's way back.
struct ReaderErrorManager {
  jpeg_error_mgr manager;  // first, so the library's pointer is ours too
  std::jmp_buf jump;
};

// Lets the library print its message, then returns to the reader instead of
// ending the process.
void reader_error_exit(j_common_ptr info) {
  (*info->err->output_message)(info);
  std::longjmp(reinterpret_cast<ReaderErrorManager *>(info->err)->jump, 1);
}

// Size of the file behind `file`; -1 when it is not a regular file.
long long regular_file_size(std::FILE *file) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

}  // namespace

QORImage *read_jpeg(const char *name) {
  std::FILE *file = std::fopen(name, "rb");
  if (!file) {
    std::fprintf(stderr, "can't open %s\n", name);
    return nullptr;
  }
  jpeg_decompress_struct info;
  ReaderErrorManager error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = reader_error_exit;
  QORImage *volatile image = nullptr;
  if (setjmp(error.jump)) {
    // A library error: its message is out; release everything.
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    image_free(image);
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);

  // A header can promise a picture of up to 65500 x 65500 from a few bytes,
  // and the library fills whatever data is missing, so such a file would
  // have a block of gigabytes allocated and written. Every 8 x 8 block of a
  // Huffman-coded picture (sequential or progressive) costs at least one
  // bit of the file, so a file with fewer bits than blocks cannot be the
  // picture it claims and is refused. Damaged or truncated files that hold
  // that much are still read. Arithmetic coding has no such floor and is not
  // bounded here.
  const long long file_size = regular_file_size(file);
  if (!info.arith_code && file_size >= 0) {
    unsigned long long blocks = 0;
    for (int c = 0; c < info.num_components; ++c)
      blocks += static_cast<unsigned long long>(info.comp_info[c].width_in_blocks) *
                info.comp_info[c].height_in_blocks;
    if (blocks > 8ULL * static_cast<unsigned long long>(file_size)) {
      jpeg_destroy_decompress(&info);
      std::fclose(file);
      return nullptr;
    }
  }

  int type;
  if (info.out_color_space == JCS_GRAYSCALE) {
    type = QOR_GRAY;
  } else if (info.out_color_space == JCS_RGB) {
    type = QOR_RGB;  // YCbCr files come out as RGB by default
  } else {
    // CMYK and anything else has no QORImage type.
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return nullptr;
  }
  // The header's dimensions fit 16 bits; image_create refuses a pixel block
  // that does not fit an int.
  image = image_create(static_cast<int>(info.image_width), static_cast<int>(info.image_height),
                       type);
  if (!image) {
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return nullptr;
  }
  jpeg_start_decompress(&info);
  QORImage *const target = image;
  // With the default output parameters (no scaling, no quantisation) the
  // output has the header's size and one or three components; check rather
  // than trust it, since the rows below are written into a block of that size.
  if (info.output_width != static_cast<JDIMENSION>(target->width) ||
      info.output_height != static_cast<JDIMENSION>(target->height) ||
      info.output_components != target->bytes_per_pixel) {
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    image_free(target);
    return nullptr;
  }
  const size_t stride = static_cast<size_t>(info.output_width) * info.output_components;
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = target->pixels + static_cast<size_t>(info.output_scanline) * stride;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return target;
}

namespace {

// The writer keeps the library's standard handling of errors (message on
// standard error, then exit status 1), but first removes the partly written
// file, so that no truncated JPEG is left behind under the promised name,
// and says which file was lost: the library's message (for a full disk,
// "Output file write error --- out of disk space?") does not name it.
struct WriterErrorManager {
  jpeg_error_mgr manager;  // first, so the library's pointer is ours too
  const char *name;
  std::FILE *file;
};

void writer_error_exit(j_common_ptr info) {
  (*info->err->output_message)(info);
  WriterErrorManager *error = reinterpret_cast<WriterErrorManager *>(info->err);
  jpeg_destroy(info);
  if (error->file) {
    std::fclose(error->file);
    std::remove(error->name);
    std::fprintf(stderr, "can't write %s\n", error->name);
  }
  std::exit(EXIT_FAILURE);
}

}  // namespace

int write_jpeg(const char *name, QORImage *image, int quality) {
  // Only gray and RGB have a JPEG colour space. Refuse anything else here,
  // before the library would reject its parameters and end the process.
  if (!image || !image->pixels || (image->type != QOR_GRAY && image->type != QOR_RGB)) {
    std::fprintf(stderr, "%s: only gray and RGB images can be written as JPEG\n", name);
    return 0;
  }
  jpeg_compress_struct info;
  WriterErrorManager error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = writer_error_exit;
  error.name = name;
  error.file = nullptr;
  jpeg_create_compress(&info);

  std::FILE *file = std::fopen(name, "wb");
  if (!file) {
    std::fprintf(stderr, "can't open %s\n", name);
    jpeg_destroy_compress(&info);
    return 0;
  }
  error.file = file;
  jpeg_stdio_dest(&info, file);
  // Dimensions that do not fit the library's (zero, or beyond its limit) are
  // library errors and end the process after the library's message.
  info.image_width = static_cast<JDIMENSION>(image->width);
  info.image_height = static_cast<JDIMENSION>(image->height);
  if (image->type == QOR_GRAY) {
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
  } else {
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
  }
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);  // baseline-compatible tables
  jpeg_start_compress(&info, TRUE);       // write all tables

  const size_t stride = static_cast<size_t>(image->width) * info.input_components;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = image->pixels + static_cast<size_t>(info.next_scanline) * stride;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  error.file = nullptr;
  const int closed = std::fclose(file);
  jpeg_destroy_compress(&info);
  if (closed != 0) {
    // The last bytes did not reach the file: it is incomplete.
    std::fprintf(stderr, "can't write %s\n", name);
    std::remove(name);
    return 0;
  }
  return 1;
}
