// Reading and writing uncompressed Windows bitmap (BMP) files.
//
// The reader takes 1, 4, 8 and 24 bits per pixel and always gives an RGB
// image; the writer stores a three-byte image as 24-bit pixels and a one-byte
// image as 8-bit indices into a gray palette. All header fields are
// little-endian.
//
// Layout as read:
//  - 40-byte information header (Windows) or 12-byte header (OS/2: 16-bit
//    width and height, palette entries of three bytes instead of four).
//  - Palette for 1, 4 and 8 bits: the number of colours used when the header
//    gives one below 2^bits, else 2^bits entries. An index beyond the palette
//    reads as entry 0.
//  - Pixel rows, each padded to a multiple of four bytes, bottom row first;
//    a negative height marks a file stored top row first. The rows begin at
//    the data offset of the file header when that lies beyond the palette,
//    else right after the palette.
// Compressed files (run-length or bit-field encodings) are refused rather
// than decoded as if they were plain rows.
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "file_util.h"
#include "formats.h"
#include "open_file.h"

namespace {

uint32_t le16(const unsigned char *p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }
uint32_t le32(const unsigned char *p) {
  return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void put16(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char *p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

bool read_exact(FILE *f, void *buffer, size_t n) { return std::fread(buffer, 1, n, f) == n; }

const uint32_t kMagic = 0x4D42;  // "BM"

struct PaletteEntry {
  unsigned char red, green, blue;
};

}  // namespace

QORImage *read_bmp(const char *name, ImageMessages *) {
  OpenFile file(name, "rb");
  if (!file.get()) return nullptr;
  FILE *f = file.get();

  unsigned char head[14];
  if (!read_exact(f, head, sizeof head) || le16(head) != kMagic) return nullptr;
  const uint32_t data_offset = le32(head + 10);

  unsigned char info[40];
  if (!read_exact(f, info, 4)) return nullptr;
  const uint32_t header_size = le32(info);
  long long width, height;
  uint32_t bits, compression = 0, colours_used = 0;
  size_t entry_size;
  if (header_size == 40) {
    if (!read_exact(f, info + 4, 36)) return nullptr;
    width = static_cast<int32_t>(le32(info + 4));
    height = static_cast<int32_t>(le32(info + 8));
    bits = le16(info + 14);
    compression = le32(info + 16);
    colours_used = le32(info + 32);
    entry_size = 4;
  } else if (header_size == 12) {
    if (!read_exact(f, info + 4, 8)) return nullptr;
    width = le16(info + 4);
    height = le16(info + 6);
    bits = le16(info + 10);
    entry_size = 3;
  } else {
    return nullptr;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return nullptr;
  if (compression != 0) return nullptr;

  // Palette entries are stored blue, green, red (and a reserved byte).
  std::vector<PaletteEntry> palette;
  if (bits <= 8) {
    uint32_t count = 1u << bits;
    if (colours_used > 0 && colours_used < count) count = colours_used;
    std::vector<unsigned char> raw(count * entry_size);
    if (!read_exact(f, raw.data(), raw.size())) return nullptr;
    palette.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      const unsigned char *e = raw.data() + i * entry_size;
      palette[i] = {e[2], e[1], e[0]};
    }
  }
  const long long palette_end = std::ftell(f);
  if (palette_end < 0) return nullptr;
  if (data_offset > palette_end && std::fseek(f, data_offset, SEEK_SET) != 0) return nullptr;

  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (width < 0 || width > INT_MAX || height > INT_MAX) return nullptr;

  // Each row fills a whole number of 32-bit words. Refuse a header that
  // promises more rows than the file holds before allocating for them.
  const long long row_bytes = (width * bits + 31) / 32 * 4;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode)) {
    // Compared by division: row_bytes * height can exceed 64 bits.
    const long long pos = std::ftell(f);
    const long long remaining = static_cast<long long>(st.st_size) - pos;
    if (pos < 0 || remaining < 0 || (height > 0 && row_bytes > remaining / height)) return nullptr;
  }
  QORImage *image = image_create(static_cast<int>(width), static_cast<int>(height), QOR_RGB);
  // An image without pixels has no rows to read (and a height of millions
  // of empty rows must not be walked one by one).
  if (!image || height == 0 || width == 0) return image;

  std::vector<unsigned char> row(static_cast<size_t>(row_bytes));
  for (long long r = 0; r < height; ++r) {
    if (!read_exact(f, row.data(), row.size())) {
      image_free(image);
      return nullptr;
    }
    const long long y = top_down ? r : height - 1 - r;
    unsigned char *out = image->pixels + y * width * 3;
    for (long long x = 0; x < width; ++x, out += 3) {
      if (bits == 24) {
        out[0] = row[3 * x + 2];
        out[1] = row[3 * x + 1];
        out[2] = row[3 * x];
        continue;
      }
      uint32_t index;
      if (bits == 8)
        index = row[x];
      else if (bits == 4)
        index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
      else
        index = (row[x / 8] >> (7 - x % 8)) & 0x01;
      const PaletteEntry &e = palette[index < palette.size() ? index : 0];
      out[0] = e.red;
      out[1] = e.green;
      out[2] = e.blue;
    }
  }
  return image;
}

Status write_bmp(const char *name, QORImage *image, ImageMessages *) {
  if (!image || !name) return Status::invalid_argument;
  // Three-byte images are written as 24-bit pixels, one-byte images as 8-bit
  // indices into a gray palette.
  uint32_t bits;
  if (image->bits_per_pixel == 24 && image->bytes_per_pixel == 3)
    bits = 24;
  else if (image->bytes_per_pixel == 1)
    bits = 8;
  else
    return Status::invalid_argument;
  const size_t width = static_cast<size_t>(image->width);
  const size_t height = static_cast<size_t>(image->height);
  const size_t pixel_bytes = width * (bits / 8);
  const size_t padding = (4 - pixel_bytes % 4) % 4;
  const uint64_t data_size = static_cast<uint64_t>(pixel_bytes + padding) * height;
  const uint32_t data_offset = bits == 24 ? 54 : 54 + 256 * 4;
  const uint64_t file_size = data_offset + data_size;
  if (file_size > UINT32_MAX) return Status::invalid_argument;  // the size fields hold 32 bits

  unsigned char head[54] = {};
  put16(head, kMagic);
  put32(head + 2, static_cast<uint32_t>(file_size));
  put32(head + 10, data_offset);
  put32(head + 14, 40);
  put32(head + 18, static_cast<uint32_t>(image->width));
  put32(head + 22, static_cast<uint32_t>(image->height));
  put16(head + 26, 1);
  put16(head + 28, bits);
  put32(head + 34, static_cast<uint32_t>(data_size));

  OutputFile file;
  if (file.open(name) != Status::ok) return Status::cannot_open;
  FILE *f = file.stream();
  bool ok = std::fwrite(head, 1, sizeof head, f) == sizeof head;
  if (ok && bits == 8) {
    unsigned char palette[256 * 4];
    for (int i = 0; i < 256; ++i) {
      palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<unsigned char>(i);
      palette[4 * i + 3] = 0;
    }
    ok = std::fwrite(palette, 1, sizeof palette, f) == sizeof palette;
  }
  // Rows go out bottom row first, each as blue, green, red for 24 bits and
  // padded with zeros. They are taken from the image in reverse order, so
  // the caller's image is never touched.
  std::vector<unsigned char> row(pixel_bytes + padding, 0);
  for (size_t r = 0; ok && r < height; ++r) {
    const unsigned char *in = image->pixels + (height - 1 - r) * pixel_bytes;
    if (bits == 24) {
      for (size_t x = 0; x < width; ++x) {
        row[3 * x] = in[3 * x + 2];
        row[3 * x + 1] = in[3 * x + 1];
        row[3 * x + 2] = in[3 * x];
      }
    } else {
      for (size_t x = 0; x < width; ++x) row[x] = in[x];
    }
    ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
  }
  if (!ok) {
    file.discard();
    return Status::cannot_write;
  }
  return file.commit();
}
