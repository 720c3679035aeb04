// PCT image files and their lossless predictive decoder.
#include "pct.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file_util.h"
#include "formats.h"
#include "messages.h"

// ---------------------------------------------------------------------------
// Fatal errors: the reader gives up on the file, its message goes to the
// standard-error text and the status a program ends with to fatal_status.

namespace {

void report_fatal(ImageMessages *messages, const char *message, int status) {
  if (!messages) return;
  message_err(messages, "%s", message);
  messages->fatal_status = status;
}

// "ERROR: %s: %s\n" with two texts.
void fatal_error(ImageMessages *messages, const char *where, const char *what, int status) {
  char message[256];
  std::snprintf(message, sizeof message, "ERROR: %s: %s\n", where, what);
  report_fatal(messages, message, status);
}

// "ERROR: %s: %s: %s (%d" with the system error number, then ")\n".
void fatal_system_error(ImageMessages *messages, const char *where, const char *call,
                        const char *what, int error, int status) {
  char message[256];
  std::snprintf(message, sizeof message, "ERROR: %s: %s: %s (%d)\n", where, call, what, error);
  report_fatal(messages, message, status);
}

}  // namespace

double PixPerByte(int depth, ImageMessages *messages) {
  switch (depth) {
    case 1: return 8.0;
    case 2: return 4.0;
    case 4: return 2.0;
    case 8: return 1.0;
    case 16: return 0.5;
    case 32: return 0.25;
    default:
      fatal_error(messages, "PixPerByte", "depth is not a power of 2 between 1 and 32 (inclusive)", 1);
      return 0.0;
  }
}

// ---------------------------------------------------------------------------
// Lossless decoder

namespace {

constexpr int kMaxCodeLength = 10;
constexpr int kMaxCategory = 9;
constexpr int kMaxDifference = 511;

// Most significant bit first, no byte stuffing.
struct BitReader {
  const unsigned char *data;
  size_t length;
  size_t byte;      // next byte to take bits from
  int bits_left;    // unread bits of that byte (8 before it is started)
};

// Reads n (0 to 16) bits; false when the data runs out.
bool read_bits(BitReader *in, int n, int *value) {
  int result = 0;
  while (n > 0) {
    if (in->byte >= in->length) return false;
    const int take = n < in->bits_left ? n : in->bits_left;
    const int shift = in->bits_left - take;
    const int bits = (in->data[in->byte] >> shift) & ((1 << take) - 1);
    result = (result << take) | bits;
    n -= take;
    in->bits_left -= take;
    if (in->bits_left == 0) {
      ++in->byte;
      in->bits_left = 8;
    }
  }
  *value = result;
  return true;
}

// difference_table[c][bits]: the difference that category c sends as `bits`.
// Non-negative differences travel as their c low bits, a negative d as the c
// low bits of d - 1; filled for every difference from -511 to 511.
struct DifferenceTable {
  int value[kMaxCategory + 1][kMaxDifference + 1];
};

const DifferenceTable &difference_table() {
  static DifferenceTable table = [] {
    DifferenceTable t{};
    for (int d = -kMaxDifference; d <= kMaxDifference; ++d) {
      const int magnitude = d < 0 ? -d : d;
      int category = 0;
      while ((magnitude >> category) != 0) ++category;
      const int sent = d < 0 ? d - 1 : d;
      t.value[category][sent & ((1 << category) - 1)] = d;
    }
    return t;
  }();
  return table;
}

}  // namespace

int decode_lossless(const unsigned char *data, size_t length, int width, int height, int depth,
                    unsigned char *out, size_t capacity, ImageMessages *messages) {
  // The first pixel's prediction is 2^(depth - 1).
  if (depth < 1 || depth > 16 || width < 0 || height < 0) return 0;
  // Table length, ten counts of codes by length, the symbols, the predictor.
  if (length < 1 + kMaxCodeLength) return 0;
  const int table_length = data[0];
  if (table_length < kMaxCodeLength) return 0;
  const int symbol_count = table_length - kMaxCodeLength;
  if (length < static_cast<size_t>(1 + table_length + 1)) return 0;
  const unsigned char *counts = data + 1;
  const unsigned char *symbols = data + 1 + kMaxCodeLength;
  const int predictor = data[1 + table_length];

  // Code sizes: each length as often as its count says, then a 0 terminator.
  int listed = 0;
  for (int i = 0; i < kMaxCodeLength; ++i) listed += counts[i];
  int *sizes = static_cast<int *>(std::calloc(static_cast<size_t>(listed) + 1, sizeof(int)));
  if (!sizes) {
    fatal_system_error(messages, "build_huffsizes", "calloc", "ptr_huffcode_table", errno, -1);
    return 0;
  }
  int k = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len)
    for (int j = 0; j < counts[len - 1]; ++j) sizes[k++] = len;

  // Canonical codes: consecutive values within a length, shifted left once
  // per step to the next longer length.
  int codes[kMaxCodeLength * 255 + 1];
  int code = 0;
  int size = sizes[0];
  for (k = 0; sizes[k] != 0;) {
    while (sizes[k] == size) codes[k++] = code++;
    if (sizes[k] == 0) break;
    while (size < sizes[k]) {
      code <<= 1;
      ++size;
    }
  }
  std::free(sizes);

  // Per length: index of its first symbol, its smallest and largest code.
  int first_symbol[kMaxCodeLength + 1];
  int smallest[kMaxCodeLength + 1];
  int largest[kMaxCodeLength + 1];
  k = 0;
  for (int len = 1; len <= kMaxCodeLength; ++len) {
    const int n = counts[len - 1];
    if (n > 0) {
      first_symbol[len] = k;
      smallest[len] = codes[k];
      largest[len] = codes[k + n - 1];
      k += n;
    } else {
      first_symbol[len] = 0;
      smallest[len] = 0;
      largest[len] = -1;
    }
  }

  const DifferenceTable &differences = difference_table();
  BitReader in{data + 1 + table_length + 1, length - static_cast<size_t>(table_length) - 2, 0, 8};
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (size_t p = 0; p < pixels; ++p) {
    // Category: one bit at a time until the code falls within a length.
    int value;
    if (!read_bits(&in, 1, &value)) return 0;
    int len = 1;
    while (value > largest[len]) {
      if (++len > kMaxCodeLength) return 0;  // longer than any code
      int bit;
      if (!read_bits(&in, 1, &bit)) return 0;
      value = (value << 1) | bit;
    }
    if (value < smallest[len]) return 0;
    const int index = first_symbol[len] + value - smallest[len];
    if (index >= symbol_count) return 0;  // the table lists fewer symbols than codes
    const int category = symbols[index];
    if (category > kMaxCategory) return 0;
    int bits;
    if (!read_bits(&in, category, &bits)) return 0;
    const int difference = differences.value[category][bits];

    if (p >= capacity) return 0;
    const size_t x = p % static_cast<size_t>(width);
    int prediction;
    if (p == 0) {
      prediction = 1 << (depth - 1);
    } else if (p < static_cast<size_t>(width)) {
      prediction = out[p - 1];
    } else if (x == 0) {
      prediction = out[p - width];
    } else {
      const int ra = out[p - 1];
      const int rb = out[p - width];
      const int rc = out[p - width - 1];
      // Predictors 5 and 6 halve each term before the subtraction.
      switch (predictor) {
        case 1: prediction = ra; break;
        case 2: prediction = rb; break;
        case 3: prediction = rc; break;
        case 4: prediction = ra + rb - rc; break;
        case 5: prediction = ra + (rb >> 1) - (rc >> 1); break;
        case 6: prediction = rb + (ra >> 1) - (rc >> 1); break;
        case 7: prediction = (ra + rb) >> 1; break;
        default:
          fatal_error(messages, "predict", "Invalid prediction type.  Must be a value 1-7.", 1);
          return 0;
      }
    }
    out[p] = static_cast<unsigned char>((prediction + difference) & 0xFF);
  }
  return 1;
}

// ---------------------------------------------------------------------------
// File reading

namespace {

constexpr int kHeaderLength = 288;
constexpr size_t kDataOffset = 8 + kHeaderLength;

// Offsets of the fields the reader uses, within the 288-byte header.
constexpr int kWidthField = 106;
constexpr int kHeightField = 114;
constexpr int kDepthField = 122;
constexpr int kCompressionField = 138;
constexpr int kCompressedLengthField = 146;

// An 8-character decimal field read with "%d"; eight characters cannot
// overflow an int.
bool read_field(const unsigned char *field, int *value) {
  char text[9];
  std::memcpy(text, field, 8);
  text[8] = '\0';
  return std::sscanf(text, "%d", value) == 1;
}

}  // namespace

QORImage *decode_pct(const unsigned char *data, size_t size, ImageMessages *messages) {
  // The 8-byte length field must read 288; a file too short to hold it has
  // no header either.
  int header_length = 0;
  if (size < 8 || !read_field(data, &header_length) || header_length != kHeaderLength) {
    report_fatal(messages, "Record Sync Error: Header not found or old format.\n", -1);
    return nullptr;
  }
  if (size < kDataOffset) return nullptr;
  const unsigned char *header = data + 8;
  int compression, depth, width, height, compressed_length;
  if (!read_field(header + kCompressionField, &compression) ||
      !read_field(header + kDepthField, &depth) || !read_field(header + kWidthField, &width) ||
      !read_field(header + kHeightField, &height) ||
      !read_field(header + kCompressedLengthField, &compressed_length))
    return nullptr;

  if (PixPerByte(depth, messages) == 0.0) return nullptr;  // a fatal fault
  // Packed depths (1, 2, 4) and wide samples (16, 32) do not describe a
  // gray or RGB image of whole bytes per pixel: such files are refused.
  if (depth != 8) return nullptr;
  if (width < 0 || height < 0) return nullptr;
  if (width > 0 && height > INT_MAX / width) return nullptr;
  const size_t pixel_count = static_cast<size_t>(width) * static_cast<size_t>(height);
  const size_t available = size - kDataOffset;
  const unsigned char *body = data + kDataOffset;

  if (compression == 0) {
    if (pixel_count > available) return nullptr;  // short read
    QORImage *image = image_create(width, height, QOR_GRAY);
    if (!image) return nullptr;
    if (pixel_count > 0) std::memcpy(image->pixels, body, pixel_count);
    return image;
  }
  if (compression != 6) return nullptr;
  if (compressed_length < 0 || static_cast<size_t>(compressed_length) > available) return nullptr;

  // Every pixel costs at least one bit of code, so compressed data of n bytes
  // decodes at most 8n pixels: a larger image runs out of data (or meets an
  // invalid predictor first), and a buffer of 8n bytes is all the decoder can
  // reach. This keeps a lying header from allocating its full size.
  const size_t reachable = 8 * static_cast<size_t>(compressed_length);
  if (pixel_count > reachable) {
    std::vector<unsigned char> scratch(reachable + 1);
    decode_lossless(body, static_cast<size_t>(compressed_length), width, height, depth,
                    scratch.data(), reachable, messages);
    return nullptr;
  }
  QORImage *image = image_create(width, height, QOR_GRAY);
  if (!image) return nullptr;
  if (!decode_lossless(body, static_cast<size_t>(compressed_length), width, height, depth,
                       image->pixels, pixel_count, messages)) {
    image_free(image);
    return nullptr;
  }
  return image;
}

QORImage *read_pct(const char *name, ImageMessages *messages) {
  std::string bytes;
  if (read_whole_file(name, &bytes) != Status::ok) return nullptr;
  return decode_pct(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), messages);
}
