// PCT reader: files built here by a small writer (raw data, and the lossless
// predictive Huffman coding with any table and predictor), the worked
// examples of the coding, the fatal paths in a child process, and damaged
// data.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "cli_util.h"
#include "formats.h"
#include "pct.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct ImageHandle {
  QORImage *image;
  explicit ImageHandle(QORImage *i) : image(i) {}
  ~ImageHandle() { image_free(image); }
  ImageHandle(const ImageHandle &) = delete;
  ImageHandle &operator=(const ImageHandle &) = delete;
};

Bytes pixels_of(const QORImage *image) {
  return Bytes(image->pixels, image->pixels + static_cast<size_t>(image->width) * image->height);
}

// ---------------------------------------------------------------------------
// Writer for the tests

struct PctHeader {
  int width = 0;
  int height = 0;
  int depth = 8;
  int compression = 0;
  int compressed_length = 0;
  const char *length_field = "     288";
};

void put_field(Bytes *header, int offset, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%8d", value);
  std::copy(text, text + 8, header->begin() + offset);
}

Bytes pct_file(const PctHeader &h, const Bytes &data) {
  Bytes out(h.length_field, h.length_field + 8);
  Bytes header(288, ' ');
  const std::string identity = "test image";
  std::copy(identity.begin(), identity.end(), header.begin());
  put_field(&header, 106, h.width);
  put_field(&header, 114, h.height);
  put_field(&header, 122, h.depth);
  put_field(&header, 130, 300);
  put_field(&header, 138, h.compression);
  put_field(&header, 146, h.compressed_length);
  put_field(&header, 154, 8);
  put_field(&header, 162, 8);
  for (int flag : {170, 171, 188, 189, 190, 191}) header[flag] = '0';
  out.insert(out.end(), header.begin(), header.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes raw_file(int width, int height, const Bytes &pixels) {
  PctHeader h;
  h.width = width;
  h.height = height;
  return pct_file(h, pixels);
}

// A Huffman table as it travels: counts of codes of lengths 1 to 10, then
// the categories in code order.
struct HuffTable {
  std::array<int, 10> counts;
  std::vector<int> symbols;
};

// Ten categories with code lengths 2 to 6.
const HuffTable kBalanced = {{0, 2, 2, 2, 2, 2, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
// One code of every length: category 9 needs the full 10 bits.
const HuffTable kSkewed = {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
// Categories 0, 1, 2 only, as 00, 01, 10.
const HuffTable kSmall = {{0, 3, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2}};

class BitWriter {
 public:
  void put(int value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      current_ = static_cast<unsigned char>((current_ << 1) | ((value >> i) & 1));
      if (++filled_ == 8) flush_byte();
    }
  }
  Bytes finish() {
    while (filled_ != 0) put(0, 1);
    return out_;
  }

 private:
  void flush_byte() {
    out_.push_back(current_);
    current_ = 0;
    filled_ = 0;
  }
  Bytes out_;
  unsigned char current_ = 0;
  int filled_ = 0;
};

// Canonical codes by the next-code-per-length rule.
void canonical_codes(const HuffTable &t, std::array<int, 10> *code_of, std::array<int, 10> *length_of) {
  code_of->fill(-1);
  length_of->fill(0);
  int next = 0;
  size_t s = 0;
  for (int len = 1; len <= 10; ++len) {
    for (int j = 0; j < t.counts[len - 1]; ++j, ++s) {
      if (s < t.symbols.size() && t.symbols[s] < 10 && (*code_of)[t.symbols[s]] < 0) {
        (*code_of)[t.symbols[s]] = next;
        (*length_of)[t.symbols[s]] = len;
      }
      ++next;
    }
    next <<= 1;
  }
}

int category_of(int d) {
  int magnitude = d < 0 ? -d : d, c = 0;
  while (magnitude) {
    magnitude >>= 1;
    ++c;
  }
  return c;
}

// Table, predictor byte and the coded differences (one per pixel).
Bytes encode_differences(const std::vector<int> &differences, int predictor, const HuffTable &t) {
  Bytes out;
  out.push_back(static_cast<unsigned char>(10 + t.symbols.size()));
  for (int c : t.counts) out.push_back(static_cast<unsigned char>(c));
  for (int s : t.symbols) out.push_back(static_cast<unsigned char>(s));
  out.push_back(static_cast<unsigned char>(predictor));
  std::array<int, 10> code, length;
  canonical_codes(t, &code, &length);
  BitWriter bits;
  for (int d : differences) {
    const int c = category_of(d);
    EXPECT_GT(length[c], 0) << "category " << c << " has no code";
    bits.put(code[c], length[c]);
    bits.put(d < 0 ? d - 1 : d, c);
  }
  const Bytes coded = bits.finish();
  out.insert(out.end(), coded.begin(), coded.end());
  return out;
}

int predict(const Bytes &p, int width, size_t k, int predictor) {
  if (k == 0) return 128;
  if (k < static_cast<size_t>(width)) return p[k - 1];
  if (k % width == 0) return p[k - width];
  const int a = p[k - 1], b = p[k - width], c = p[k - width - 1];
  switch (predictor) {
    case 1: return a;
    case 2: return b;
    case 3: return c;
    case 4: return a + b - c;
    case 5: return a + b / 2 - c / 2;
    case 6: return b + a / 2 - c / 2;
    default: return (a + b) / 2;
  }
}

Bytes encode_pixels(const Bytes &pixels, int width, int predictor, const HuffTable &t) {
  std::vector<int> differences;
  for (size_t k = 0; k < pixels.size(); ++k)
    differences.push_back(pixels[k] - predict(pixels, width, k, predictor));
  return encode_differences(differences, predictor, t);
}

Bytes compressed_file(int width, int height, const Bytes &coded) {
  PctHeader h;
  h.width = width;
  h.height = height;
  h.compression = 6;
  h.compressed_length = static_cast<int>(coded.size());
  return pct_file(h, coded);
}

QORImage *decode(const Bytes &file) { return decode_pct(file.data(), file.size()); }

// ---------------------------------------------------------------------------

TEST(PctReader, RawDepth8GivesTheStoredBytesAsGray) {
  const Bytes pixels = {0, 1, 2, 3, 250, 251, 252, 253, 127, 128, 129, 130};
  qortest::TempDir dir;
  const std::string name = dir.file("raw.pct");
  const Bytes file = raw_file(4, 3, pixels);
  qortest::write_file(name, std::string(file.begin(), file.end()));
  ImageHandle r(read_pct(name.c_str()));
  ASSERT_NE(r.image, nullptr);
  EXPECT_EQ(r.image->width, 4);
  EXPECT_EQ(r.image->height, 3);
  EXPECT_EQ(r.image->type, QOR_GRAY);
  EXPECT_EQ(r.image->bits_per_pixel, 8);
  EXPECT_EQ(r.image->bytes_per_pixel, 1);
  EXPECT_EQ(pixels_of(r.image), pixels);
  EXPECT_EQ(read_pct(dir.file("missing.pct").c_str()), nullptr);
}

TEST(PctReader, CompressedTwinDecodesToTheRawBytesWithEveryPredictor) {
  const unsigned seed = 1234;
  std::mt19937 rng(seed);
  const int width = 17, height = 9;
  // Smooth ramp plus noise, with a few extreme jumps for the large categories.
  Bytes pixels(width * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      pixels[y * width + x] = static_cast<unsigned char>(8 * x + 5 * y + rng() % 7);
  pixels[20] = 255;
  pixels[21] = 0;
  pixels[60] = 0;
  pixels[61] = 255;
  ImageHandle raw(decode(raw_file(width, height, pixels)));
  ASSERT_NE(raw.image, nullptr);
  for (const HuffTable *table : {&kBalanced, &kSkewed}) {
    for (int predictor = 1; predictor <= 7; ++predictor) {
      ImageHandle packed(decode(compressed_file(width, height, encode_pixels(pixels, width, predictor, *table))));
      ASSERT_NE(packed.image, nullptr) << "predictor " << predictor;
      EXPECT_EQ(packed.image->type, QOR_GRAY);
      EXPECT_EQ(pixels_of(packed.image), pixels_of(raw.image))
          << "predictor " << predictor << " seed " << seed;
    }
  }
  // Random images of random shapes, including single rows and columns.
  for (int trial = 0; trial < 30; ++trial) {
    const int w = 1 + static_cast<int>(rng() % 20), h = 1 + static_cast<int>(rng() % 20);
    Bytes p(static_cast<size_t>(w) * h);
    for (auto &v : p) v = static_cast<unsigned char>(rng());
    const int predictor = 1 + trial % 7;
    ImageHandle r(decode(compressed_file(w, h, encode_pixels(p, w, predictor, trial % 2 ? kSkewed : kBalanced))));
    ASSERT_NE(r.image, nullptr) << "trial " << trial << " seed " << seed;
    EXPECT_EQ(pixels_of(r.image), p) << "trial " << trial << " seed " << seed;
  }
}

TEST(PctLossless, DifferencesMinusThreeAndPlusThree) {
  // kSmall: category 2 is code 10. -3 travels as bits 00, +3 as 11; the first
  // pixel is 128 plus its difference, the next its left neighbour plus its own.
  // Bits: 10 00 | 10 11 = 0x8B.
  Bytes coded = {13, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 1, 0x8B};
  ImageHandle r(decode(compressed_file(2, 1, coded)));
  ASSERT_NE(r.image, nullptr);
  EXPECT_EQ(pixels_of(r.image), (Bytes{125, 128}));
  // The test writer sends the same bits.
  EXPECT_EQ(encode_differences({-3, 3}, 1, kSmall), coded);
}

TEST(PctLossless, PredictorExamples) {
  // 2 x 2 images whose last pixel is sent with difference 0, so it shows the
  // prediction from Rc (top left), Rb (top right) and Ra (bottom left).
  auto last_pixel = [](int rc, int rb, int ra, int predictor) {
    const std::vector<int> d = {rc - 128, rb - rc, ra - rc, 0};
    ImageHandle r(decode(compressed_file(2, 2, encode_differences(d, predictor, kBalanced))));
    EXPECT_NE(r.image, nullptr);
    if (!r.image) return -1;
    EXPECT_EQ(r.image->pixels[0], rc);
    EXPECT_EQ(r.image->pixels[1], rb);
    EXPECT_EQ(r.image->pixels[2], ra);
    return static_cast<int>(r.image->pixels[3]);
  };
  EXPECT_EQ(last_pixel(2, 3, 10, 5), 10);  // 10 + 1 - 1
  EXPECT_EQ(last_pixel(3, 4, 3, 7), 3);    // (3 + 4) / 2
  // Each term is halved before the subtraction: 10 + 2 - 1, not 10 + (1 >> 1).
  EXPECT_EQ(last_pixel(3, 4, 10, 5), 11);
  EXPECT_EQ(last_pixel(3, 10, 4, 6), 11);  // 10 + 2 - 1
  EXPECT_EQ(last_pixel(7, 9, 20, 1), 20);
  EXPECT_EQ(last_pixel(7, 9, 20, 2), 9);
  EXPECT_EQ(last_pixel(7, 9, 20, 3), 7);
  EXPECT_EQ(last_pixel(7, 9, 20, 4), 22);
  // A prediction outside 0..255 wraps to its low 8 bits.
  EXPECT_EQ(last_pixel(0, 200, 200, 4), (400 + 0) & 0xFF);
}

TEST(PctReader, RefusedFilesGiveNull) {
  const Bytes pixels(6, 7);
  PctHeader h;
  h.width = 3;
  h.height = 2;
  h.compression = 2;
  EXPECT_EQ(decode(pct_file(h, pixels)), nullptr);  // compression code 2
  h.compression = 0;
  for (int depth : {1, 2, 4, 16, 32}) {
    h.depth = depth;
    EXPECT_EQ(decode(pct_file(h, Bytes(64, 7))), nullptr) << depth;
  }
  h.depth = 8;
  EXPECT_EQ(decode(pct_file(h, Bytes(5, 7))), nullptr);  // short raw data
  h.width = -3;
  EXPECT_EQ(decode(pct_file(h, pixels)), nullptr);
  h.width = 3;
  Bytes not_a_number = pct_file(h, pixels);
  std::fill(not_a_number.begin() + 8 + 106, not_a_number.begin() + 8 + 114, 'x');
  EXPECT_EQ(decode(not_a_number), nullptr);
  const Bytes whole = pct_file(h, pixels);
  EXPECT_EQ(decode(Bytes(whole.begin(), whole.begin() + 200)), nullptr);  // header cut short
  ImageHandle fine(decode(pct_file(h, pixels)));
  EXPECT_NE(fine.image, nullptr);
}

TEST(PctLossless, CorruptDataIsUnreadable) {
  const Bytes pixels = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  const Bytes good = encode_pixels(pixels, 3, 4, kBalanced);
  ImageHandle ok(decode(compressed_file(3, 3, good)));
  ASSERT_NE(ok.image, nullptr);
  EXPECT_EQ(pixels_of(ok.image), pixels);
  // Every shorter piece of the coded data runs out before the last pixel.
  for (size_t n = 0; n + 1 < good.size(); ++n)
    EXPECT_EQ(decode(compressed_file(3, 3, Bytes(good.begin(), good.begin() + n))), nullptr) << n;
  // A compressed length past the end of the file.
  PctHeader h;
  h.width = 3;
  h.height = 3;
  h.compression = 6;
  h.compressed_length = static_cast<int>(good.size()) + 1;
  EXPECT_EQ(decode(pct_file(h, good)), nullptr);
  // kSmall leaves code 11 without a symbol: all ones never ends within 10 bits.
  EXPECT_EQ(decode(compressed_file(1, 1, {13, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 1, 0xFF, 0xFF})), nullptr);
  // Counts promise four codes of length 2 but only three symbols follow.
  EXPECT_EQ(decode(compressed_file(1, 1, {13, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 1, 0xC0})), nullptr);
  // A category above 9.
  EXPECT_EQ(decode(compressed_file(1, 1, {11, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 12, 1, 0x00, 0, 0})), nullptr);
  // A table length shorter than the counts.
  EXPECT_EQ(decode(compressed_file(1, 1, {5, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0})), nullptr);
  // A header claiming 40000 x 40000 pixels from a few bytes is refused
  // without allocating them.
  EXPECT_EQ(decode(compressed_file(40000, 40000, good)), nullptr);
}

// ---------------------------------------------------------------------------
// Fatal faults: exact message and status, no image, nothing printed.

struct Fatal {
  std::string err;
  int status;
  bool image;
};

Fatal decode_fatal(const Bytes &file) {
  ImageMessages messages;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  QORImage *image = decode_pct(file.data(), file.size(), &messages);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(messages.out, "");
  const bool got = image != nullptr;
  image_free(image);
  return {messages.err, messages.fatal_status, got};
}

TEST(PctFatal, HeaderLengthFieldNot288) {
  PctHeader h;
  h.width = 1;
  h.height = 1;
  h.length_field = "     296";
  const Bytes file = pct_file(h, {9});
  for (const Bytes &b : {file, Bytes(file.begin(), file.begin() + 5)}) {
    const Fatal f = decode_fatal(b);
    EXPECT_EQ(f.err, "Record Sync Error: Header not found or old format.\n");
    EXPECT_EQ(f.status, -1);  // exit status 255
    EXPECT_FALSE(f.image);
  }
  h.length_field = "  abc   ";
  EXPECT_EQ(decode_fatal(pct_file(h, Bytes(4, 0))).status, -1);
}

TEST(PctFatal, DepthThatPixPerByteRefuses) {
  PctHeader h;
  h.width = 1;
  h.height = 1;
  h.depth = 24;
  const Fatal f = decode_fatal(pct_file(h, {1, 2, 3}));
  EXPECT_EQ(f.err, "ERROR: PixPerByte: depth is not a power of 2 between 1 and 32 (inclusive)\n");
  EXPECT_EQ(f.status, 1);
  EXPECT_FALSE(f.image);
}

TEST(PctFatal, InvalidPredictorAtTheFirstPixelThatUsesIt) {
  const Bytes square = encode_differences({0, 1, 2, 3}, 9, kBalanced);
  const Fatal f = decode_fatal(compressed_file(2, 2, square));
  EXPECT_EQ(f.err, "ERROR: predict: Invalid prediction type.  Must be a value 1-7.\n");
  EXPECT_EQ(f.status, 1);
  EXPECT_FALSE(f.image);
  EXPECT_EQ(decode_fatal(compressed_file(2, 2, encode_differences({0, 1, 2, 3}, 0, kBalanced))).status,
            1);
  // A single row never uses the predictor.
  ImageHandle row(decode(compressed_file(4, 1, encode_differences({0, 1, 2, 3}, 9, kBalanced))));
  ASSERT_NE(row.image, nullptr);
  EXPECT_EQ(pixels_of(row.image), (Bytes{128, 129, 131, 134}));
}

TEST(PctFatal, DamagedFilesNeverFault) {
  // Random byte changes anywhere in a compressed file; a fatal fault gives
  // null with its message. Under the sanitizers this checks every access.
  const unsigned seed = 99;
  std::mt19937 rng(seed);
  Bytes pixels(12 * 10);
  for (auto &v : pixels) v = static_cast<unsigned char>(rng());
  const Bytes file = compressed_file(12, 10, encode_pixels(pixels, 12, 4, kSkewed));
  int readable = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    Bytes b = file;
    // Mostly in the table and coded data, every fourth time anywhere.
    const bool anywhere = trial % 4 == 0;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes; ++c) {
      const size_t at = anywhere ? rng() % b.size() : 296 + rng() % (b.size() - 296);
      b[at] = static_cast<unsigned char>(rng());
    }
    ImageMessages messages;
    ImageHandle r(decode_pct(b.data(), b.size(), &messages));
    EXPECT_TRUE(messages.fatal_status == 0 || !r.image);
    if (r.image) {
      ++readable;
      if (!anywhere) {
        EXPECT_EQ(r.image->width * r.image->height, 120) << "seed " << seed;
      }
    }
  }
  EXPECT_GT(readable, 0);
}

}  // namespace
