// GIF reading. The whole stream is parsed into an in-memory description
// (screen descriptor, global colour map, a list of image and extension
// blocks with every image's indices decoded from its LZW data); the last
// image is then turned into an RGB image through its colour map.
#include "gif.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file_util.h"
#include "formats.h"

// ---------------------------------------------------------------------------
// Sized buffers

namespace {

// The length field is the 4 bytes just before the data area; the header is
// 8 bytes so that the data area keeps the allocator's alignment and can hold
// pointers and records.
constexpr size_t kSizedHeader = 8;

size_t sized_area(uint32_t n) { return (static_cast<size_t>(n) & ~static_cast<size_t>(3)) + 4; }

void sized_set_length(unsigned char *buffer, uint32_t n) { std::memcpy(buffer - 4, &n, 4); }

}  // namespace

unsigned char *sized_alloc(uint32_t n) {
  unsigned char *block =
      static_cast<unsigned char *>(std::calloc(1, kSizedHeader + sized_area(n)));
  if (!block) return nullptr;
  unsigned char *buffer = block + kSizedHeader;
  sized_set_length(buffer, n);
  return buffer;
}

uint32_t sized_length(const unsigned char *buffer) {
  if (!buffer) return 0;
  uint32_t n;
  std::memcpy(&n, buffer - 4, 4);
  return n;
}

unsigned char *sized_grow(unsigned char *buffer, uint32_t n) {
  if (n == 0) return buffer;
  const uint32_t old_length = sized_length(buffer);
  if (n > UINT32_MAX - old_length) return nullptr;
  const uint32_t length = old_length + n;
  if (!buffer) return sized_alloc(length);
  const size_t old_area = sized_area(old_length);
  const size_t area = sized_area(length);
  if (area != old_area) {
    unsigned char *block = static_cast<unsigned char *>(
        std::realloc(buffer - kSizedHeader, kSizedHeader + area));
    if (!block) return nullptr;
    buffer = block + kSizedHeader;
  }
  std::memset(buffer + old_length, 0, area - old_length);
  sized_set_length(buffer, length);
  return buffer;
}

void sized_release(unsigned char *buffer) {
  if (buffer) std::free(buffer - kSizedHeader);
}

namespace {

// A list is a sized buffer grown by one element at a time: 32-bit values for
// colour maps, pointers (8 bytes on this platform) for blocks and sub-blocks.
// Elements are copied in and out with memcpy, so no alignment is assumed.
template <typename T>
bool list_append(unsigned char **list, T value) {
  unsigned char *grown = sized_grow(*list, sizeof(T));
  if (!grown) return false;
  std::memcpy(grown + sized_length(grown) - sizeof(T), &value, sizeof(T));
  *list = grown;
  return true;
}

template <typename T>
uint32_t list_count(const unsigned char *list) {
  return sized_length(list) / sizeof(T);
}

template <typename T>
T list_get(const unsigned char *list, uint32_t i) {
  T value;
  std::memcpy(&value, list + static_cast<size_t>(i) * sizeof(T), sizeof(T));
  return value;
}

// Records of the description are plain data kept in cleared sized buffers.
template <typename T>
T *new_record() {
  return reinterpret_cast<T *>(sized_alloc(sizeof(T)));
}

template <typename T>
void release_record(T *record) {
  sized_release(reinterpret_cast<unsigned char *>(record));
}

// ---------------------------------------------------------------------------
// The in-memory description of a GIF stream

struct GifColourMap {
  int count;                // 2^bits entries, 0 when the map is absent
  unsigned char *entries;   // list of uint32 red * 65536 + green * 256 + blue
};

struct GifScreen {
  int width;
  int height;
  int global_map_flag;
  int colour_resolution;
  int sort_flag;
  int bits;                 // bits per map entry
  int background;
  int aspect;
  GifColourMap map;
};

struct GifImage {
  int left;
  int top;
  int width;
  int height;
  int local_map_flag;
  int interlace_flag;
  int sort_flag;
  int reserved_bit;         // bit 4 of the packed byte, kept as read
  int bits;                 // bits per local map entry
  GifColourMap map;
  unsigned char *indices;   // width * height bytes, row by row
};

struct GifExtension {
  int label;
  unsigned char *sub_blocks;  // list of sized buffers, one per data sub-block
};

struct GifBlock {
  int introducer;           // ',' image, '!' extension
  GifImage *image;
  GifExtension *extension;
};

struct GifFile {
  char signature[6];
  GifScreen screen;
  unsigned char *blocks;    // list of GifBlock pointers
};

void release_block(GifBlock *block) {
  if (!block) return;
  if (block->image) {
    sized_release(block->image->map.entries);
    sized_release(block->image->indices);
    release_record(block->image);
  }
  if (block->extension) {
    const uint32_t n = list_count<unsigned char *>(block->extension->sub_blocks);
    for (uint32_t i = 0; i < n; ++i)
      sized_release(list_get<unsigned char *>(block->extension->sub_blocks, i));
    sized_release(block->extension->sub_blocks);
    release_record(block->extension);
  }
  release_record(block);
}

void release_file(GifFile *file) {
  if (!file) return;
  sized_release(file->screen.map.entries);
  const uint32_t n = list_count<GifBlock *>(file->blocks);
  for (uint32_t i = 0; i < n; ++i) release_block(list_get<GifBlock *>(file->blocks, i));
  sized_release(file->blocks);
  release_record(file);
}

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

// Reads 2^bits entries of three bytes (red, green, blue).
bool read_colour_map(GifInput &in, int bits, GifColourMap *map) {
  const int count = 1 << bits;
  map->entries = sized_alloc(static_cast<uint32_t>(count) * 4);
  if (!map->entries) return false;
  map->count = count;
  for (int i = 0; i < count; ++i) {
    const uint32_t red = next_byte(in);
    const uint32_t green = next_byte(in);
    const uint32_t blue = next_byte(in);
    const uint32_t entry = red * 65536 + green * 256 + blue;
    std::memcpy(map->entries + 4 * i, &entry, 4);
  }
  return true;
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

// Reads the minimum code size and the data sub-blocks of one image, decoding
// them into image->indices (already allocated and cleared).
bool decode_image_data(GifInput &in, GifImage *image) {
  LzwDecoder *d = new_record<LzwDecoder>();
  if (!d) return false;
  d->min_code_size = next_byte(in);
  // Indices are bytes, so code sizes above 8 cannot be represented; such
  // data is skipped and leaves every index 0.
  const bool usable = d->min_code_size >= 1 && d->min_code_size <= 8;
  if (usable) {
    d->clear_code = 1 << d->min_code_size;
    d->end_code = d->clear_code + 1;
    lzw_reset_table(d);

    std::vector<int> rows;
    row_order(image->height, image->interlace_flag != 0, &rows);
    for (int y : rows) {
      // With the data used up and only zero bits left, every further code is
      // index 0, which the cleared rows already hold.
      if (d->end_of_data && d->accumulator == 0 && d->stack_pointer == 0) break;
      lzw_decode_line(in, d, image->indices + static_cast<size_t>(y) * image->width,
                      image->width);
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
  release_record(d);
  return true;
}

bool read_image_block(GifInput &in, GifFile *file, GifBlock *block) {
  GifImage *image = new_record<GifImage>();
  if (!image) return false;
  block->image = image;
  image->left = next_u16(in);
  image->top = next_u16(in);
  image->width = next_u16(in);
  image->height = next_u16(in);
  const int packed = next_byte(in);
  image->local_map_flag = (packed >> 7) & 1;
  image->interlace_flag = (packed >> 6) & 1;
  image->sort_flag = (packed >> 5) & 1;
  image->reserved_bit = (packed >> 4) & 1;
  image->bits = (packed & 7) + 1;
  if (image->local_map_flag && !read_colour_map(in, image->bits, &image->map)) return false;

  const long pixels = static_cast<long>(image->width) * image->height;
  if (pixels > kGifMaxPixels) return false;
  // Only the last image of the file is ever used, so the indices of the
  // earlier ones are released before this one is allocated.
  const uint32_t n = list_count<GifBlock *>(file->blocks);
  for (uint32_t i = 0; i < n; ++i) {
    GifBlock *earlier = list_get<GifBlock *>(file->blocks, i);
    if (earlier->image) {
      sized_release(earlier->image->indices);
      earlier->image->indices = nullptr;
    }
  }
  image->indices = sized_alloc(static_cast<uint32_t>(pixels));
  if (!image->indices) return false;
  return decode_image_data(in, image);
}

bool read_extension_block(GifInput &in, GifBlock *block) {
  GifExtension *extension = new_record<GifExtension>();
  if (!extension) return false;
  block->extension = extension;
  extension->label = next_byte(in);
  for (;;) {
    const int n = next_byte(in);
    if (n == 0) break;
    unsigned char *sub_block = sized_alloc(static_cast<uint32_t>(n));
    if (!sub_block) return false;
    for (int i = 0; i < n; ++i) sub_block[i] = static_cast<unsigned char>(next_byte(in));
    if (!list_append(&extension->sub_blocks, sub_block)) {
      sized_release(sub_block);
      return false;
    }
  }
  return true;
}

// Parses the stream into *file. False when it is not a GIF stream or cannot
// be held (an oversized image, exhausted memory).
bool parse_gif(GifInput &in, GifFile *file) {
  for (int i = 0; i < 6; ++i) file->signature[i] = static_cast<char>(next_byte(in));
  if (std::memcmp(file->signature, "GIF", 3) != 0) return false;

  GifScreen &screen = file->screen;
  screen.width = next_u16(in);
  screen.height = next_u16(in);
  const int packed = next_byte(in);
  screen.global_map_flag = (packed >> 7) & 1;
  screen.colour_resolution = ((packed >> 4) & 7) + 1;
  screen.sort_flag = (packed >> 3) & 1;
  screen.bits = (packed & 7) + 1;
  screen.background = next_byte(in);
  screen.aspect = next_byte(in);
  if (screen.global_map_flag && !read_colour_map(in, screen.bits, &screen.map)) return false;

  for (;;) {
    const int introducer = next_byte(in);
    if (introducer != ',' && introducer != '!') break;  // trailer, end of file or junk
    GifBlock *block = new_record<GifBlock>();
    if (!block) return false;
    block->introducer = introducer;
    const bool read = introducer == ',' ? read_image_block(in, file, block)
                                        : read_extension_block(in, block);
    if (!read || !list_append(&file->blocks, block)) {
      release_block(block);
      return false;
    }
  }
  return true;
}

QORImage *build_image(const GifFile *file) {
  const GifImage *last = nullptr;
  const uint32_t n = list_count<GifBlock *>(file->blocks);
  for (uint32_t i = 0; i < n; ++i) {
    const GifBlock *block = list_get<GifBlock *>(file->blocks, i);
    if (block->image) last = block->image;
  }
  if (!last) return nullptr;
  const GifColourMap *map = last->local_map_flag && last->map.count > 0 ? &last->map
                                                                         : &file->screen.map;
  if (map->count <= 0) return nullptr;
  QORImage *result = image_create(last->width, last->height, QOR_RGB);
  if (!result) return nullptr;
  const size_t pixels = static_cast<size_t>(last->width) * last->height;
  for (size_t k = 0; k < pixels; ++k) {
    // An index past the end of the map reads as entry 0.
    const int index = last->indices[k] < map->count ? last->indices[k] : 0;
    uint32_t entry;
    std::memcpy(&entry, map->entries + 4 * index, 4);
    result->pixels[3 * k] = static_cast<unsigned char>(entry >> 16);
    result->pixels[3 * k + 1] = static_cast<unsigned char>(entry >> 8);
    result->pixels[3 * k + 2] = static_cast<unsigned char>(entry);
  }
  return result;
}

}  // namespace

QORImage *decode_gif(const unsigned char *data, size_t size) {
  GifFile *file = new_record<GifFile>();
  if (!file) return nullptr;
  GifInput in{data, size, 0};
  QORImage *result = parse_gif(in, file) ? build_image(file) : nullptr;
  release_file(file);
  return result;
}

QORImage *read_gif(const char *name, ImageMessages *) {
  std::string bytes;
  if (read_whole_file(name, &bytes) != Status::ok) return nullptr;
  return decode_gif(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
}
