// GIF reader: files written by an independent encoder (kept with the pixels
// an independent decoder gave for them), and streams built here by a small
// LZW encoder to reach the corners the fixtures do not: the table kept full
// without a clear code, early end codes, indices past the colour map,
// truncated and damaged data.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cli_util.h"
#include "formats.h"
#include "gif.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string data_path(const std::string &name) { return std::string(QOR_TEST_DATA) + "/gif/" + name; }

Bytes read_bytes(const std::string &path) {
  bool ok = false;
  const std::string text = qortest::read_file(path, &ok);
  EXPECT_TRUE(ok) << path;
  return Bytes(text.begin(), text.end());
}

struct ImageHandle {
  QORImage *image;
  explicit ImageHandle(QORImage *i) : image(i) {}
  ~ImageHandle() { image_free(image); }
  ImageHandle(const ImageHandle &) = delete;
  ImageHandle &operator=(const ImageHandle &) = delete;
};

Bytes pixels_of(const QORImage *image) {
  return Bytes(image->pixels,
               image->pixels + static_cast<size_t>(image->width) * image->height * 3);
}

// ---------------------------------------------------------------------------
// Fixtures: each .gif with the RGB bytes the independent decoder produced.

void expect_fixture(const std::string &gif, const std::string &rgb, int width, int height) {
  ImageHandle result(read_gif(data_path(gif).c_str()));
  ASSERT_NE(result.image, nullptr) << gif;
  EXPECT_EQ(result.image->width, width);
  EXPECT_EQ(result.image->height, height);
  EXPECT_EQ(result.image->type, QOR_RGB);
  EXPECT_EQ(result.image->bytes_per_pixel, 3);
  EXPECT_EQ(result.image->bits_per_pixel, 24);
  EXPECT_EQ(pixels_of(result.image), read_bytes(data_path(rgb))) << gif;
}

TEST(GifFixtures, Gif87aAndGif89aWithOneImage) {
  EXPECT_EQ(read_bytes(data_path("one87.gif"))[4], '7');
  EXPECT_EQ(read_bytes(data_path("one89.gif"))[4], '9');
  expect_fixture("one87.gif", "one87.rgb", 7, 5);
  expect_fixture("one89.gif", "one89.rgb", 7, 5);
}

TEST(GifFixtures, InterlacedImageEqualsItsPlainTwin) {
  // Byte 10 is the screen's packed byte (global map of 4 entries), so the
  // image descriptor's packed byte follows the map, one extension and 9
  // descriptor bytes; check the fixtures really differ in the interlace bit.
  const Bytes plain = read_bytes(data_path("plain.gif"));
  const Bytes interlaced = read_bytes(data_path("inter.gif"));
  ASSERT_EQ(plain.size() > 40 && interlaced.size() > 40, true);
  const size_t packed = 13 + 12 + 8 + 9;  // header, map, graphic control, descriptor
  ASSERT_EQ(plain[packed - 9], ',');
  ASSERT_EQ(interlaced[packed - 9], ',');
  EXPECT_EQ(plain[packed] & 0x40, 0);
  EXPECT_EQ(interlaced[packed] & 0x40, 0x40);
  expect_fixture("plain.gif", "plain.rgb", 13, 11);
  expect_fixture("inter.gif", "inter.rgb", 13, 11);
  EXPECT_EQ(read_bytes(data_path("plain.rgb")), read_bytes(data_path("inter.rgb")));
}

TEST(GifFixtures, TwoImagesGiveTheSecondThroughItsLocalMap) {
  // The second image carries a local map of colours absent from the global one.
  expect_fixture("two.gif", "two.rgb", 7, 5);
  ImageHandle result(read_gif(data_path("two.gif").c_str()));
  ASSERT_NE(result.image, nullptr);
  EXPECT_EQ(result.image->pixels[0], 17);
  EXPECT_EQ(result.image->pixels[1], 34);
  EXPECT_EQ(result.image->pixels[2], 51);
}

TEST(GifFixtures, NoisyImageReachesTwelveBitCodesAndFullTable) {
  // 100 x 100 pixels of 256 colours: the encoder runs the table full at
  // 12 bits and clears it twice.
  expect_fixture("noise.gif", "noise.rgb", 100, 100);
}

TEST(GifFixtures, TruncatedFileKeepsMapEntryZeroWhereNothingWasDecoded) {
  const Bytes whole = read_bytes(data_path("noise.gif"));
  const Bytes expected = read_bytes(data_path("noise.rgb"));
  const unsigned char entry0[3] = {whole[13], whole[14], whole[15]};
  const size_t cut = whole.size() / 2;
  const Bytes half(whole.begin(), whole.begin() + cut);
  ImageHandle result(decode_gif(half.data(), half.size()));
  ASSERT_NE(result.image, nullptr);
  ASSERT_EQ(result.image->width, 100);
  ASSERT_EQ(result.image->height, 100);
  const Bytes got = pixels_of(result.image);
  // Roughly the first half of the rows came through intact ...
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 30 * 300, expected.begin()));
  // ... and the rows past the data hold map entry 0.
  for (size_t k = 70 * 100; k < 100 * 100; ++k) {
    ASSERT_EQ(got[3 * k], entry0[0]) << k;
    ASSERT_EQ(got[3 * k + 1], entry0[1]) << k;
    ASSERT_EQ(got[3 * k + 2], entry0[2]) << k;
  }
  // Every shorter prefix of the file is read without fault; prefixes that
  // still hold the image descriptor give a 100 x 100 image.
  for (size_t n = 0; n < whole.size(); n += 97) {
    ImageHandle part(decode_gif(whole.data(), n));
    if (n >= 13 + 768 + 8 + 10) {
      ASSERT_NE(part.image, nullptr) << n;
      EXPECT_EQ(part.image->width * part.image->height, 10000);
    }
  }
}

// ---------------------------------------------------------------------------
// A GIF writer for the tests: LZW with the usual code-width schedule, either
// clearing the table when it is full or keeping it full (deferred clear).

class CodeWriter {
 public:
  explicit CodeWriter(int min_code_size) : m_(min_code_size) { reset(); }
  void reset() {
    running_ = (1 << m_) + 2;
    bits_ = m_ + 1;
    limit_ = 1 << bits_;
  }
  // Writes one code at the width the decoder expects and follows its table.
  void emit(int code) {
    accumulator_ |= static_cast<uint64_t>(code) << count_;
    count_ += bits_;
    while (count_ >= 8) {
      out_.push_back(static_cast<unsigned char>(accumulator_ & 0xFF));
      accumulator_ >>= 8;
      count_ -= 8;
    }
    if (running_ < 4098) ++running_;
    if (running_ > limit_ && bits_ < 12) {
      limit_ <<= 1;
      ++bits_;
    }
    if (code == (1 << m_)) reset();
  }
  Bytes finish() {
    if (count_ > 0) out_.push_back(static_cast<unsigned char>(accumulator_ & 0xFF));
    accumulator_ = 0;
    count_ = 0;
    return out_;
  }
  int bits() const { return bits_; }

 private:
  int m_;
  int running_ = 0, bits_ = 0, limit_ = 0;
  uint64_t accumulator_ = 0;
  int count_ = 0;
  Bytes out_;
};

enum class FullTable { kClear, kKeep };

// LZW-codes `indices` (already in transmission order); reports the widest
// code written and how many codes went out against a full table.
Bytes lzw_encode(const Bytes &indices, int m, FullTable policy, int *widest = nullptr,
                 int *codes_when_full = nullptr) {
  const int clear = 1 << m;
  CodeWriter writer(m);
  std::map<std::pair<int, int>, int> table;
  int next = clear + 2;
  int full_codes = 0, max_bits = 0;
  auto put = [&](int code) {
    max_bits = std::max(max_bits, writer.bits());
    writer.emit(code);
  };
  put(clear);
  if (!indices.empty()) {
    int w = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
      const int c = indices[i];
      auto found = table.find({w, c});
      if (found != table.end()) {
        w = found->second;
        continue;
      }
      put(w);
      if (next < 4096) {
        table[{w, c}] = next++;
      } else if (policy == FullTable::kClear) {
        put(clear);
        table.clear();
        next = clear + 2;
      } else {
        ++full_codes;
      }
      w = c;
    }
    put(w);
  }
  put(clear + 1);
  if (widest) *widest = max_bits;
  if (codes_when_full) *codes_when_full = full_codes;
  return writer.finish();
}

void append_sub_blocks(Bytes *out, const Bytes &data) {
  for (size_t i = 0; i < data.size(); i += 255) {
    const size_t n = std::min<size_t>(255, data.size() - i);
    out->push_back(static_cast<unsigned char>(n));
    out->insert(out->end(), data.begin() + i, data.begin() + i + n);
  }
  out->push_back(0);
}

void append_u16(Bytes *out, int v) {
  out->push_back(static_cast<unsigned char>(v & 0xFF));
  out->push_back(static_cast<unsigned char>(v >> 8));
}

void append_map(Bytes *out, const std::vector<uint32_t> &map) {
  for (uint32_t e : map) {
    out->push_back(static_cast<unsigned char>(e >> 16));
    out->push_back(static_cast<unsigned char>(e >> 8));
    out->push_back(static_cast<unsigned char>(e));
  }
}

int map_bits(size_t entries) {
  int bits = 1;
  while ((size_t{1} << bits) < entries) ++bits;
  return bits;
}

Bytes gif_header(int width, int height, const std::vector<uint32_t> &global) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  append_u16(&out, width);
  append_u16(&out, height);
  out.push_back(global.empty() ? 0 : static_cast<unsigned char>(0x80 | (map_bits(global.size()) - 1)));
  out.push_back(0);
  out.push_back(0);
  append_map(&out, global);
  return out;
}

// Image descriptor, optional local map, and the coded data (`data` already
// LZW-coded, without the minimum code size byte).
void append_image(Bytes *out, int width, int height, bool interlaced,
                  const std::vector<uint32_t> &local, int m, const Bytes &data) {
  out->push_back(',');
  append_u16(out, 0);
  append_u16(out, 0);
  append_u16(out, width);
  append_u16(out, height);
  int packed = interlaced ? 0x40 : 0;
  if (!local.empty()) packed |= 0x80 | (map_bits(local.size()) - 1);
  out->push_back(static_cast<unsigned char>(packed));
  append_map(out, local);
  out->push_back(static_cast<unsigned char>(m));
  append_sub_blocks(out, data);
}

// Rows in transmission order for an interlaced image.
Bytes interlace(const Bytes &indices, int width, int height) {
  Bytes out;
  const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = start[pass]; y < height; y += step[pass])
      out.insert(out.end(), indices.begin() + static_cast<size_t>(y) * width,
                 indices.begin() + static_cast<size_t>(y + 1) * width);
  return out;
}

std::vector<uint32_t> random_map(std::mt19937 &rng, int entries) {
  std::vector<uint32_t> map(entries);
  for (auto &e : map) e = rng() & 0xFFFFFF;
  return map;
}

Bytes expected_rgb(const Bytes &indices, const std::vector<uint32_t> &map) {
  Bytes out;
  for (unsigned char i : indices) {
    const uint32_t e = i < map.size() ? map[i] : map[0];
    out.push_back(static_cast<unsigned char>(e >> 16));
    out.push_back(static_cast<unsigned char>(e >> 8));
    out.push_back(static_cast<unsigned char>(e));
  }
  return out;
}

Bytes make_gif(const Bytes &indices, int width, int height, int m, const std::vector<uint32_t> &map,
               bool interlaced, FullTable policy, int *widest = nullptr, int *full = nullptr) {
  Bytes out = gif_header(width, height, map);
  const Bytes order = interlaced ? interlace(indices, width, height) : indices;
  append_image(&out, width, height, interlaced, {}, m, lzw_encode(order, m, policy, widest, full));
  out.push_back(';');
  return out;
}

TEST(GifLzw, RoundTripsRandomImagesAtEveryCodeSize) {
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  for (int m = 1; m <= 8; ++m) {
    for (int interlaced = 0; interlaced < 2; ++interlaced) {
      const int width = 1 + static_cast<int>(rng() % 60);
      const int height = 1 + static_cast<int>(rng() % 40);
      const int colours = 1 << m;
      // Few distinct values in runs, so strings grow long.
      Bytes indices(static_cast<size_t>(width) * height);
      for (auto &v : indices) v = static_cast<unsigned char>(rng() % 3 == 0 ? rng() % colours : (rng() % 2));
      const auto map = random_map(rng, m == 1 ? 2 : colours);
      const Bytes gif = make_gif(indices, width, height, m, map, interlaced != 0, FullTable::kClear);
      ImageHandle result(decode_gif(gif.data(), gif.size()));
      ASSERT_NE(result.image, nullptr) << "seed " << seed << " m " << m;
      EXPECT_EQ(pixels_of(result.image), expected_rgb(indices, map))
          << "seed " << seed << " m " << m << " interlaced " << interlaced;
    }
  }
}

TEST(GifLzw, FullTableWithoutClearKeepsDecoding) {
  // 8-bit noise: the table fills after about 3,800 codes and the encoder then
  // sends thousands more 12-bit codes against the full table before the end.
  const unsigned seed = 77;
  std::mt19937 rng(seed);
  const int width = 120, height = 100;
  Bytes indices(static_cast<size_t>(width) * height);
  for (auto &v : indices) v = static_cast<unsigned char>(rng() % 256);
  // Repeat a block so that table strings are used once the table is full.
  std::copy(indices.begin(), indices.begin() + 3000, indices.end() - 3000);
  const auto map = random_map(rng, 256);
  int widest = 0, full = 0;
  const Bytes gif = make_gif(indices, width, height, 8, map, false, FullTable::kKeep, &widest, &full);
  EXPECT_EQ(widest, 12);
  EXPECT_GT(full, 5000);
  ImageHandle result(decode_gif(gif.data(), gif.size()));
  ASSERT_NE(result.image, nullptr);
  EXPECT_EQ(pixels_of(result.image), expected_rgb(indices, map)) << "seed " << seed;

  // The same with a 2-bit code size, interlaced: longer strings at 12 bits.
  const int width4 = 200, height4 = 150;
  Bytes runs(static_cast<size_t>(width4) * height4);
  for (auto &v : runs) v = static_cast<unsigned char>(rng() % 4);
  const auto map4 = random_map(rng, 4);
  const Bytes gif4 = make_gif(runs, width4, height4, 2, map4, true, FullTable::kKeep, &widest, &full);
  EXPECT_EQ(widest, 12);
  EXPECT_GT(full, 1000);
  ImageHandle result4(decode_gif(gif4.data(), gif4.size()));
  ASSERT_NE(result4.image, nullptr);
  EXPECT_EQ(pixels_of(result4.image), expected_rgb(runs, map4)) << "seed " << seed;
}

// Builds a 4 x 2 image from raw codes (m = 2: clear 4, end 5).
QORImage *decode_codes(const std::vector<int> &codes, int width = 4, int height = 2) {
  CodeWriter writer(2);
  for (int c : codes) writer.emit(c);
  const std::vector<uint32_t> map = {0x000000, 0x111111, 0x222222, 0x333333};
  Bytes gif = gif_header(width, height, map);
  append_image(&gif, width, height, false, {}, 2, writer.finish());
  gif.push_back(';');
  return decode_gif(gif.data(), gif.size());
}

Bytes first_channel(const QORImage *image) {
  Bytes out;
  for (int k = 0; k < image->width * image->height; ++k) out.push_back(image->pixels[3 * k] / 0x11);
  return out;
}

TEST(GifLzw, EndCodeOnlyAllowedAtTheLastPositionOfALine) {
  {
    // Early end code: the rest of row 0 stays index 0; row 1 decodes.
    ImageHandle r(decode_codes({4, 1, 5, 2, 2, 2, 2}));
    ASSERT_NE(r.image, nullptr);
    EXPECT_EQ(first_channel(r.image), (Bytes{1, 0, 0, 0, 2, 2, 2, 2}));
  }
  {
    // End code in the last position leaves that index as it was.
    ImageHandle r(decode_codes({4, 1, 1, 1, 5, 3, 3, 3, 3}));
    ASSERT_NE(r.image, nullptr);
    EXPECT_EQ(first_channel(r.image), (Bytes{1, 1, 1, 0, 3, 3, 3, 3}));
  }
  {
    // A code not yet in the table fails the line; so does any code past it.
    ImageHandle r(decode_codes({4, 1, 7, 3, 3, 3, 3}));
    ASSERT_NE(r.image, nullptr);
    EXPECT_EQ(first_channel(r.image), (Bytes{1, 0, 0, 0, 3, 3, 3, 3}));
  }
  {
    // The entry being defined (code 6 right after the first code) is the
    // previous string plus its first index: 2, then 2 2.
    ImageHandle r(decode_codes({4, 2, 6, 1, 1, 1, 1, 1, 5}, 4, 2));
    ASSERT_NE(r.image, nullptr);
    EXPECT_EQ(first_channel(r.image), (Bytes{2, 2, 2, 1, 1, 1, 1, 1}));
  }
}

TEST(GifReader, IndexPastTheMapReadsEntryZero) {
  // Global map of two entries, code size 2: index 3 has no entry.
  const std::vector<uint32_t> map = {0x0A0B0C, 0xFFFFFF};
  Bytes gif = gif_header(4, 1, map);
  append_image(&gif, 4, 1, false, {}, 2, lzw_encode({1, 3, 2, 1}, 2, FullTable::kClear));
  gif.push_back(';');
  ImageHandle r(decode_gif(gif.data(), gif.size()));
  ASSERT_NE(r.image, nullptr);
  EXPECT_EQ(pixels_of(r.image), (Bytes{255, 255, 255, 10, 11, 12, 10, 11, 12, 255, 255, 255}));
}

TEST(GifReader, LocalMapWithoutGlobalAndNoMapAtAll) {
  const Bytes indices = {0, 1, 1, 0};
  Bytes with_local = gif_header(2, 2, {});
  append_image(&with_local, 2, 2, false, {0x102030, 0x405060}, 2, lzw_encode(indices, 2, FullTable::kClear));
  with_local.push_back(';');
  ImageHandle r(decode_gif(with_local.data(), with_local.size()));
  ASSERT_NE(r.image, nullptr);
  EXPECT_EQ(pixels_of(r.image), expected_rgb(indices, {0x102030, 0x405060}));

  Bytes no_map = gif_header(2, 2, {});
  append_image(&no_map, 2, 2, false, {}, 2, lzw_encode(indices, 2, FullTable::kClear));
  EXPECT_EQ(decode_gif(no_map.data(), no_map.size()), nullptr);
}

TEST(GifReader, RefusesWhatIsNotAnImage) {
  EXPECT_EQ(read_gif(data_path("no-such-file.gif").c_str()), nullptr);
  EXPECT_EQ(decode_gif(nullptr, 0), nullptr);
  // Signature, screen, map, an extension, trailer: no image block.
  Bytes no_image = gif_header(4, 4, {0, 0xFFFFFF});
  no_image.insert(no_image.end(), {'!', 0xFE, 3, 'a', 'b', 'c', 0, ';'});
  EXPECT_EQ(decode_gif(no_image.data(), no_image.size()), nullptr);
  // A good stream with another signature.
  Bytes good = make_gif({0, 1, 1, 0}, 2, 2, 2, {0, 0xFFFFFF}, false, FullTable::kClear);
  ImageHandle ok(decode_gif(good.data(), good.size()));
  EXPECT_NE(ok.image, nullptr);
  good[0] = 'J';
  EXPECT_EQ(decode_gif(good.data(), good.size()), nullptr);
}

TEST(GifReader, EnormousDimensionsAreRefusedAndEmptyDataIsCheap) {
  Bytes huge = gif_header(1, 1, {0x123456, 0});
  append_image(&huge, 65535, 65535, false, {}, 2, {});
  EXPECT_EQ(decode_gif(huge.data(), huge.size()), nullptr);
  Bytes just_over = gif_header(1, 1, {0x123456, 0});
  append_image(&just_over, 8192, 8193, false, {}, 2, {});
  EXPECT_EQ(decode_gif(just_over.data(), just_over.size()), nullptr);
  // 3000 x 2000 with no data at all: every pixel is map entry 0.
  Bytes empty = gif_header(1, 1, {0x123456, 0});
  append_image(&empty, 3000, 2000, false, {}, 2, {});
  ImageHandle r(decode_gif(empty.data(), empty.size()));
  ASSERT_NE(r.image, nullptr);
  const Bytes px = pixels_of(r.image);
  for (size_t k = 0; k < px.size(); k += 3) {
    ASSERT_EQ(px[k], 0x12);
    ASSERT_EQ(px[k + 2], 0x56);
  }
}

TEST(GifReader, DamagedStreamsNeverFault) {
  // Random byte changes to a real file and to a streamed-out test image; run
  // under the sanitizers this checks that no input reads or writes outside
  // its buffers.
  const unsigned seed = 4242;
  std::mt19937 rng(seed);
  const Bytes noise = read_bytes(data_path("noise.gif"));
  const Bytes two = read_bytes(data_path("two.gif"));
  int images = 0;
  for (int trial = 0; trial < 400; ++trial) {
    Bytes b = trial % 2 ? noise : two;
    const int changes = 1 + static_cast<int>(rng() % 8);
    for (int c = 0; c < changes; ++c) b[rng() % b.size()] = static_cast<unsigned char>(rng());
    ImageHandle r(decode_gif(b.data(), b.size()));
    if (r.image) ++images;
  }
  // Most damage leaves a readable file (damaged data only spoils rows).
  EXPECT_GT(images, 200) << "seed " << seed;
}

}  // namespace
