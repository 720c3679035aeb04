// JPEG reading and writing over the IJG library's release-6 interface.
#include <sys/stat.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

#include "file_util.h"
#include "formats.h"
#include "messages.h"
#include "qorimage.h"

// Both functions talk to a C library that reports errors through a callback;
// they leave that callback with longjmp. Nothing with a destructor lives
// across the jump, and what changes after setjmp is volatile. The library's
// messages (its errors, and the first warning of a file, such as "Corrupt
// JPEG data: ...") go to the standard-error text of the messages as the
// lines its console handler would print.

namespace {

// The library's standard error manager with the way back and the messages.
struct ErrorManager {
  jpeg_error_mgr manager;  // first, so the library's pointer is ours too
  std::jmp_buf jump;
  ImageMessages *messages;
};

void message_to_messages(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  message_err(reinterpret_cast<ErrorManager *>(info->err)->messages, "%s\n", text);
}

// Gives the library's message, then returns to the caller's recovery point
// instead of ending the process.
void error_to_caller(j_common_ptr info) {
  (*info->err->output_message)(info);
  std::longjmp(reinterpret_cast<ErrorManager *>(info->err)->jump, 1);
}

// The standard manager with the two handlers above.
void set_up_errors(ErrorManager *error, ImageMessages *messages) {
  jpeg_std_error(&error->manager);
  error->manager.error_exit = error_to_caller;
  error->manager.output_message = message_to_messages;
  error->messages = messages;
}

// Size of the file behind `file`; -1 when it is not a regular file.
long long regular_file_size(std::FILE *file) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<long long>(st.st_size);
}

}  // namespace

QORImage *read_jpeg(const char *name, ImageMessages *messages) {
  std::FILE *file = std::fopen(name, "rb");
  if (!file) {
    message_err(messages, "can't open %s\n", name);
    return nullptr;
  }
  jpeg_decompress_struct info;
  ErrorManager error;
  set_up_errors(&error, messages);
  info.err = &error.manager;
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

// Compresses `image` into `file`; false after a library error, whose message
// is in the messages. Only plain C objects live in this frame.
bool compress(std::FILE *file, const QORImage *image, int quality, ImageMessages *messages) {
  jpeg_compress_struct info;
  ErrorManager error;
  set_up_errors(&error, messages);
  info.err = &error.manager;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  // Dimensions that do not fit the library's (zero, or beyond its limit) are
  // library errors.
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
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

// A library error (for a full disk, "Output file write error --- out of disk
// space?", which does not name the file) is followed by "can't write <name>"
// and marked fatal with status 1, the status the library's own handling
// ended the process with; the output is discarded, so no truncated JPEG is
// left under the promised name.
Status write_jpeg(const char *name, QORImage *image, int quality, ImageMessages *messages) {
  // Only gray and RGB have a JPEG colour space. Refuse anything else here,
  // before the library would reject its parameters.
  if (!name) return Status::invalid_argument;
  if (!image || !image->pixels || (image->type != QOR_GRAY && image->type != QOR_RGB)) {
    message_err(messages, "%s: only gray and RGB images can be written as JPEG\n", name);
    return Status::invalid_argument;
  }
  OutputFile file;
  if (file.open(name) != Status::ok) {
    message_err(messages, "can't open %s\n", name);
    return Status::cannot_open;
  }
  if (!compress(file.stream(), image, quality, messages)) {
    file.discard();
    message_err(messages, "can't write %s\n", name);
    if (messages) messages->fatal_status = 1;
    return Status::cannot_write;
  }
  if (file.commit() != Status::ok) {
    // The last bytes did not reach the file: it is incomplete.
    message_err(messages, "can't write %s\n", name);
    return Status::cannot_write;
  }
  return Status::ok;
}
