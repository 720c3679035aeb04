// GIF reading. The stream is parsed block by block (screen descriptor,
// global colour map, image and extension blocks); every image's indices are
// decoded from its LZW data, but only the last image is kept, and it is
// turned into an RGB image through its colour map at the end.
#include "gif.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "file_util.h"
#include "formats.h"

namespace {

// ---------------------------------------------------------------------------
// Input: every byte asked for past the end of the stream reads as 0.

struct GifInput {
  const unsigned char *data;
  size_t size;
  size_t pos;
};

int next_byte(GifInput &in) { return in.pos < in.size ? in.data[in.pos++] : 0; }

int next_u16(GifInput &in) {
  const int low = next_byte(in);
  return low | (next_byte(in) << 8);
}

// A colour map: 2^bits entries red * 65536 + green * 256 + blue; empty when
// the map is absent.
typedef std::vector<uint32_t> ColourMap;

// Reads 2^bits entries of three bytes (red, green, blue).
void read_colour_map(GifInput &in, int bits, ColourMap *map) {
  map->assign(static_cast<size_t>(1) << bits, 0);
  for (uint32_t &entry : *map) {
    const uint32_t red = next_byte(in);
    const uint32_t green = next_byte(in);
    const uint32_t blue = next_byte(in);
    entry = red * 65536 + green * 256 + blue;
  }
}

// ---------------------------------------------------------------------------
// Variable-width LZW decoding of one image's data

constexpr int kMaxCode = 4095;     // largest code of the 12-bit table
constexpr int kTableSize = 4096;
constexpr int kNoCode = 4098;      // "no such code": empty prefix, no previous code
constexpr int kMaxCodeBits = 12;

struct LzwDecoder {
  int min_code_size;
  int clear_code;
  int end_code;
  int running_code;        // the next table entry is running_code - 2
  int running_bits;        // width of the next code
  int growth_limit;        // the width grows once running_code exceeds this
  int previous_code;
  int stack_pointer;
  uint32_t accumulator;    // bits not yet used, least significant first
  int accumulator_bits;
  unsigned char block[256];
  int block_length;
  int block_pos;
  bool end_of_data;
  unsigned char stack[kTableSize];
  unsigned char suffix[kTableSize];
  uint32_t prefix[kTableSize];
};

void lzw_reset_table(LzwDecoder *d) {
  for (int i = 0; i < kTableSize; ++i) d->prefix[i] = kNoCode;
  d->running_code = d->end_code + 1;
  d->running_bits = d->min_code_size + 1;
  d->growth_limit = 1 << d->running_bits;
  d->previous_code = kNoCode;
}

// Next byte of the image data: data sub-blocks are read whole as they are
// needed; a zero length ends the data, after which every byte is 0.
int lzw_next_byte(GifInput &in, LzwDecoder *d) {
  if (d->block_pos >= d->block_length) {
    if (d->end_of_data) return 0;
    const int n = next_byte(in);
    if (n == 0) {
      d->end_of_data = true;
      return 0;
    }
    for (int i = 0; i < n; ++i) d->block[i] = static_cast<unsigned char>(next_byte(in));
    d->block_length = n;
    d->block_pos = 0;
  }
  return d->block[d->block_pos++];
}

int lzw_read_code(GifInput &in, LzwDecoder *d) {
  while (d->accumulator_bits < d->running_bits) {
    d->accumulator |= static_cast<uint32_t>(lzw_next_byte(in, d)) << d->accumulator_bits;
    d->accumulator_bits += 8;
  }
  const int code = static_cast<int>(d->accumulator & ((1u << d->running_bits) - 1));
  d->accumulator >>= d->running_bits;
  d->accumulator_bits -= d->running_bits;
  // Once the table is full the running code stays one past it (4098, so that
  // running_code - 2 names no entry): the encoder may keep sending 12-bit
  // codes against the full table until it chooses to send a clear code.
  if (d->running_code < kNoCode) ++d->running_code;
  if (d->running_code > d->growth_limit && d->running_bits < kMaxCodeBits) {
    d->growth_limit <<= 1;
    ++d->running_bits;
  }
  return code;
}

// First index of the string of `code`, or -1 when its chain is broken.
int lzw_first_index(const LzwDecoder *d, int code) {
  int steps = 0;
  while (code > d->clear_code && code <= kMaxCode && steps++ < kTableSize)
    code = static_cast<int>(d->prefix[code]);
  return code < d->clear_code ? code : -1;
}

bool lzw_push(LzwDecoder *d, int index) {
  if (d->stack_pointer >= kTableSize) return false;
  d->stack[d->stack_pointer++] = static_cast<unsigned char>(index);
  return true;
}

// Decodes the next n indices into line. On a defective code the line fails:
// the rest of it is left as it was and false is returned.
bool lzw_decode_line(GifInput &in, LzwDecoder *d, unsigned char *line, int n) {
  int i = 0;
  while (d->stack_pointer > 0 && i < n) line[i++] = d->stack[--d->stack_pointer];
  while (i < n) {
    const int code = lzw_read_code(in, d);
    if (code == d->end_code) {
      // Allowed only in the last position of a line, which it leaves as is.
      if (i != n - 1) goto fail;
      ++i;
      continue;
    }
    if (code == d->clear_code) {
      lzw_reset_table(d);
      continue;
    }
    if (code < d->clear_code) {
      line[i++] = static_cast<unsigned char>(code);
    } else {
      int trace = code;
      if (d->prefix[code] == kNoCode) {
        // Only the entry being defined right now may be used before it has a
        // prefix: its string is the previous string plus that string's first
        // index.
        if (code != d->running_code - 2 || d->previous_code == kNoCode) goto fail;
        const int first = lzw_first_index(d, d->previous_code);
        if (first < 0 || !lzw_push(d, first)) goto fail;
        d->suffix[code] = static_cast<unsigned char>(first);
        trace = d->previous_code;
      }
      int steps = 0;
      while (trace > d->clear_code && trace <= kMaxCode && steps++ < kTableSize) {
        if (!lzw_push(d, d->suffix[trace])) goto fail;
        trace = static_cast<int>(d->prefix[trace]);
      }
      if (trace >= d->clear_code) goto fail;  // broken or endless chain
      if (!lzw_push(d, trace)) goto fail;
      while (d->stack_pointer > 0 && i < n) line[i++] = d->stack[--d->stack_pointer];
    }
    // Define the entry running_code - 2 from the previous string, unless the
    // table is full.
    const int entry = d->running_code - 2;
    if (d->previous_code != kNoCode && entry <= kMaxCode) {
      const int first = lzw_first_index(d, code == entry ? d->previous_code : code);
      if (first < 0) goto fail;
      d->prefix[entry] = static_cast<uint32_t>(d->previous_code);
      d->suffix[entry] = static_cast<unsigned char>(first);
    }
    d->previous_code = code;
  }
  return true;
fail:
  d->stack_pointer = 0;
  return false;
}

// Row number of the k-th decoded line: plain order, or the four passes of an
// interlaced image (rows 0, 8, 16 ...; 4, 12 ...; 2, 6 ...; 1, 3 ...).
void row_order(int height, bool interlaced, std::vector<int> *rows) {
  rows->clear();
  if (!interlaced) {
    for (int y = 0; y < height; ++y) rows->push_back(y);
    return;
  }
  static const int start[4] = {0, 4, 2, 1};
  static const int step[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = start[pass]; y < height; y += step[pass]) rows->push_back(y);
}

// Reads the minimum code size and the data sub-blocks of one image of
// width x height, decoding them into `indices` (cleared, width * height).
void decode_image_data(GifInput &in, int width, int height, bool interlaced,
                       unsigned char *indices) {
  std::unique_ptr<LzwDecoder> decoder(new LzwDecoder());
  LzwDecoder *d = decoder.get();
  d->min_code_size = next_byte(in);
  // Indices are bytes, so code sizes above 8 cannot be represented; such
  // data is skipped and leaves every index 0.
  const bool usable = d->min_code_size >= 1 && d->min_code_size <= 8;
  if (usable) {
    d->clear_code = 1 << d->min_code_size;
    d->end_code = d->clear_code + 1;
    lzw_reset_table(d);

    std::vector<int> rows;
    row_order(height, interlaced, &rows);
    for (int y : rows) {
      // With the data used up and only zero bits left, every further code is
      // index 0, which the cleared rows already hold.
      if (d->end_of_data && d->accumulator == 0 && d->stack_pointer == 0) break;
      lzw_decode_line(in, d, indices + static_cast<size_t>(y) * width, width);
    }
  }
  // Skip what is left of the data up to the zero-length sub-block.
  if (!d->end_of_data) {
    for (;;) {
      const int n = next_byte(in);
      if (n == 0) break;
      for (int i = 0; i < n; ++i) next_byte(in);
    }
  }
}

// The last image of the stream, as far as it has been read.
struct LastImage {
  bool present = false;
  int width = 0;
  int height = 0;
  ColourMap local_map;              // empty without a local map
  std::vector<unsigned char> indices;  // width * height bytes, row by row
};

// An image block after its ',' introducer. False for an image larger than
// kGifMaxPixels, which makes the whole stream unreadable.
bool read_image_block(GifInput &in, LastImage *last) {
  next_u16(in);  // left
  next_u16(in);  // top
  const int width = next_u16(in);
  const int height = next_u16(in);
  const int packed = next_byte(in);
  const bool local_map = (packed >> 7) & 1;
  const bool interlaced = (packed >> 6) & 1;
  ColourMap map;
  if (local_map) read_colour_map(in, (packed & 7) + 1, &map);

  const long pixels = static_cast<long>(width) * height;
  if (pixels > kGifMaxPixels) return false;
  // Only the last image of the file is ever used: the earlier one's indices
  // are released before this one's are allocated.
  last->indices.clear();
  last->indices.shrink_to_fit();
  last->indices.assign(static_cast<size_t>(pixels), 0);
  last->present = true;
  last->width = width;
  last->height = height;
  last->local_map.swap(map);
  decode_image_data(in, width, height, interlaced, last->indices.data());
  return true;
}

// An extension block after its '!' introducer: the label and the data
// sub-blocks, none of which the reader uses.
void skip_extension_block(GifInput &in) {
  next_byte(in);  // label
  for (;;) {
    const int n = next_byte(in);
    if (n == 0) break;
    for (int i = 0; i < n; ++i) next_byte(in);
  }
}

QORImage *decode(GifInput &in) {
  char signature[6];
  for (char &c : signature) c = static_cast<char>(next_byte(in));
  if (std::memcmp(signature, "GIF", 3) != 0) return nullptr;

  next_u16(in);  // screen width
  next_u16(in);  // screen height
  const int packed = next_byte(in);
  next_byte(in);  // background
  next_byte(in);  // aspect ratio
  ColourMap global_map;
  if ((packed >> 7) & 1) read_colour_map(in, (packed & 7) + 1, &global_map);

  LastImage last;
  for (;;) {
    const int introducer = next_byte(in);
    if (introducer == ',') {
      if (!read_image_block(in, &last)) return nullptr;
    } else if (introducer == '!') {
      skip_extension_block(in);
    } else {
      break;  // trailer, end of file or junk
    }
  }
  if (!last.present) return nullptr;
  const ColourMap &map = last.local_map.empty() ? global_map : last.local_map;
  if (map.empty()) return nullptr;
  QORImage *result = image_create(last.width, last.height, QOR_RGB);
  if (!result) return nullptr;
  const size_t pixels = last.indices.size();
  for (size_t k = 0; k < pixels; ++k) {
    // An index past the end of the map reads as entry 0.
    const uint32_t entry = map[last.indices[k] < map.size() ? last.indices[k] : 0];
    result->pixels[3 * k] = static_cast<unsigned char>(entry >> 16);
    result->pixels[3 * k + 1] = static_cast<unsigned char>(entry >> 8);
    result->pixels[3 * k + 2] = static_cast<unsigned char>(entry);
  }
  return result;
}

}  // namespace

QORImage *decode_gif(const unsigned char *data, size_t size) {
  GifInput in{data, size, 0};
  try {
    return decode(in);
  } catch (const std::bad_alloc &) {
    return nullptr;  // exhausted memory: no image
  }
}

QORImage *read_gif(const char *name, ImageMessages *) {
  std::string bytes;
  if (read_whole_file(name, &bytes) != Status::ok) return nullptr;
  return decode_gif(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}
