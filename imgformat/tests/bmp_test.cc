#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli_util.h"
#include "formats.h"
#include "image_test_util.h"
#include "qorimage.h"

namespace {

using qortest::read_file;
using qortest::TempDir;
using qortest::write_file;

void put16(std::string *s, size_t at, uint32_t v) {
  (*s)[at] = static_cast<char>(v & 0xFF);
  (*s)[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string *s, size_t at, uint32_t v) {
  put16(s, at, v & 0xFFFF);
  put16(s, at + 2, v >> 16);
}
uint32_t get32(const std::string &s, size_t at) {
  return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8 |
         static_cast<unsigned char>(s[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// A file with the 40-byte header: `palette` (four bytes an entry) and
// `rows` follow the headers directly unless `offset` says otherwise.
std::string bmp_file(int32_t width, int32_t height, int bits, const std::string &palette,
                     const std::string &rows, uint32_t colours_used = 0, uint32_t offset = 0,
                     uint32_t compression = 0) {
  std::string s(54, '\0');
  s[0] = 'B';
  s[1] = 'M';
  put32(&s, 2, static_cast<uint32_t>(54 + palette.size() + rows.size()));
  put32(&s, 10, offset ? offset : static_cast<uint32_t>(54 + palette.size()));
  put32(&s, 14, 40);
  put32(&s, 18, static_cast<uint32_t>(width));
  put32(&s, 22, static_cast<uint32_t>(height));
  put16(&s, 26, 1);
  put16(&s, 28, static_cast<uint32_t>(bits));
  put32(&s, 30, compression);
  put32(&s, 46, colours_used);
  return s + palette + rows;
}

ImagePtr read_bytes(const TempDir &dir, const std::string &bytes) {
  write_file(dir.file("in.bmp"), bytes);
  return ImagePtr(read_bmp(dir.file("in.bmp").c_str()));
}

// ImageMagick's 24-, 8-, 4- and 1-bit Windows files and its 24- and 4-bit
// OS/2 files (12-byte header) decode to the pixels it reports; the widths
// are chosen so that every row carries padding.
TEST(BmpRead, MatchesImageMagick) {
  const std::string data = QOR_TEST_DATA "/bmp/";
  struct Case {
    const char *stem;
    int width, height;
  } cases[] = {{"im_24", 7, 3}, {"im_8", 7, 3},      {"im_4", 9, 3},
               {"im_1", 11, 2}, {"im_os2_24", 7, 3}, {"im_os2_4", 9, 3}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stem);
    ImagePtr image(read_bmp((data + c.stem + ".bmp").c_str()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, QOR_RGB);
    EXPECT_EQ(image->width, c.width);
    EXPECT_EQ(image->height, c.height);
    EXPECT_EQ(pixels_of(image.get()), read_file(data + c.stem + ".rgb"));
  }
  // Its default output has a 124-byte header, which is not read, and its
  // run-length encoded 8-bit file is refused rather than misread.
  EXPECT_FALSE(read_bmp((data + "im_default.bmp").c_str()));
  EXPECT_FALSE(read_bmp((data + "im_8_rle.bmp").c_str()));
}

TEST(BmpRead, TwentyFourBitRowsAndPadding) {
  TempDir dir;
  // Width 3: nine pixel bytes and three padding bytes a row, bottom row
  // first, pixels blue-green-red.
  std::string rows = std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9) + "PAD" +
                     std::string("\x11\x12\x13\x14\x15\x16\x17\x18\x19", 9) + "PAD";
  ImagePtr image = read_bytes(dir, bmp_file(3, 2, 24, "", rows));
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()),
            std::string("\x13\x12\x11\x16\x15\x14\x19\x18\x17"
                        "\x03\x02\x01\x06\x05\x04\x09\x08\x07", 18));
  // A negative height marks rows stored top first.
  image = read_bytes(dir, bmp_file(3, -2, 24, "", rows));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->height, 2);
  EXPECT_EQ(pixels_of(image.get()),
            std::string("\x03\x02\x01\x06\x05\x04\x09\x08\x07"
                        "\x13\x12\x11\x16\x15\x14\x19\x18\x17", 18));
}

TEST(BmpRead, PalettesAndIndices) {
  TempDir dir;
  std::string gray_palette;
  for (int i = 0; i < 256; ++i) gray_palette += std::string(3, static_cast<char>(i)) + '\0';
  ImagePtr image = read_bytes(dir, bmp_file(2, 1, 8, gray_palette, std::string("\x10\xf0\0\0", 4)));
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), "\x10\x10\x10\xf0\xf0\xf0");

  // Two colours used: a short palette, and the data offset placing the rows
  // after a gap. Index 7 lies beyond the palette and reads as entry 0.
  std::string two("\x30\x20\x10\0\x60\x50\x40\0", 8);
  image = read_bytes(dir, bmp_file(3, 1, 8, two + "gap!", std::string("\x01\x07\x00\0", 4), 2,
                                   54 + 8 + 4));
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), "\x40\x50\x60\x10\x20\x30\x10\x20\x30");

  // 4 bits, width 3: high nibble first, rows padded to four bytes.
  std::string sixteen;
  for (int i = 0; i < 16; ++i) sixteen += std::string{static_cast<char>(i), static_cast<char>(16 * i), 0, 0};
  image = read_bytes(dir, bmp_file(3, 2, 4, sixteen, std::string("\x12\x30\0\0\xab\xc0\0\0", 8)));
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()),
            std::string("\0\xa0\x0a\0\xb0\x0b\0\xc0\x0c"
                        "\0\x10\x01\0\x20\x02\0\x30\x03", 18));

  // 1 bit, width 10: most significant bit first, through the two-entry
  // palette.
  std::string duo("\x00\x00\xff\0\xff\x00\x00\0", 8);
  image = read_bytes(dir, bmp_file(10, 1, 1, duo, std::string("\xa0\x40\0\0", 4)));
  ASSERT_TRUE(image);
  const std::string red("\xff\0\0", 3), blue("\0\0\xff", 3);
  EXPECT_EQ(pixels_of(image.get()), blue + red + blue + red + red + red + red + red + red + blue);
}

TEST(BmpRead, RefusedFiles) {
  TempDir dir;
  std::string rows(12, 'x');
  std::string good = bmp_file(3, 1, 24, "", rows);
  ASSERT_TRUE(read_bytes(dir, good));

  std::string bad = good;
  bad[0] = 'M';
  bad[1] = 'B';
  EXPECT_FALSE(read_bytes(dir, bad));
  EXPECT_FALSE(read_bytes(dir, bmp_file(3, 1, 16, "", rows)));
  EXPECT_FALSE(read_bytes(dir, bmp_file(3, 1, 32, "", rows + rows)));
  EXPECT_FALSE(read_bytes(dir, bmp_file(3, 1, 24, "", rows, 0, 0, 1)));  // compressed
  bad = good;
  put32(&bad, 14, 64);  // unknown header size
  EXPECT_FALSE(read_bytes(dir, bad));
  EXPECT_FALSE(read_bmp((dir.path() + "/missing.bmp").c_str()));

  // Cut anywhere, the file is refused.
  for (size_t n = 0; n < good.size(); ++n) EXPECT_FALSE(read_bytes(dir, good.substr(0, n))) << n;
  // A palette cut short.
  EXPECT_FALSE(read_bytes(dir, bmp_file(1, 1, 8, std::string(100, 'p'), "")));
  // Headers promising more than the file holds, or sizes no image can have.
  EXPECT_FALSE(read_bytes(dir, bmp_file(40000, 40000, 24, "", rows)));
  EXPECT_FALSE(read_bytes(dir, bmp_file(-3, 1, 24, "", rows)));
  EXPECT_FALSE(read_bytes(dir, bmp_file(3, INT32_MIN, 24, "", rows)));
  EXPECT_FALSE(read_bytes(dir, bmp_file(0x7fffffff, 1, 1, std::string(8, 'p'), rows)));

  // Zero rows are no fault, however wide, nor are zero columns, however
  // many rows (read at once, not row by row).
  ImagePtr image = read_bytes(dir, bmp_file(0x7fffffff, 0, 24, "", ""));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->height, 0);
  image = read_bytes(dir, bmp_file(0, 0x7fffffff, 1, std::string(8, 'p'), ""));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 0);
  EXPECT_EQ(image->height, 0x7fffffff);
}

TEST(BmpWrite, GrayFileLayout) {
  TempDir dir;
  ImagePtr gray(image_create(2, 2, QOR_GRAY));
  const std::string pixels("\x01\x02\x03\x04", 4);
  std::copy(pixels.begin(), pixels.end(), gray->pixels);
  std::string name = dir.file("g.bmp");
  ASSERT_EQ(write_bmp(name.c_str(), gray.get()), Status::ok);
  std::string file = read_file(name);
  ASSERT_EQ(file.size(), 14u + 40 + 1024 + 2 * 4);
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(get32(file, 2), file.size());
  EXPECT_EQ(get32(file, 10), 1078u);
  EXPECT_EQ(get32(file, 14), 40u);
  EXPECT_EQ(file[28], 8);
  EXPECT_EQ(get32(file, 34), 8u);
  EXPECT_EQ(file.substr(54 + 4 * 200, 4), std::string("\xc8\xc8\xc8\0", 4));
  EXPECT_EQ(file.substr(1078), std::string("\x03\x04\0\0\x01\x02\0\0", 8));
  // Read back, the gray levels come out in all three channels.
  ImagePtr back(read_bmp(name.c_str()));
  ASSERT_TRUE(back);
  EXPECT_EQ(pixels_of(back.get()), std::string("\1\1\1\2\2\2\3\3\3\4\4\4", 12));
}

TEST(BmpWrite, ColourFileLayoutLeavesImageAlone) {
  TempDir dir;
  ImagePtr colour(image_create(3, 1, QOR_RGB));
  for (int i = 0; i < 9; ++i) colour->pixels[i] = static_cast<unsigned char>(i + 1);
  std::string name = dir.file("c.bmp");
  ASSERT_EQ(write_bmp(name.c_str(), colour.get()), Status::ok);
  std::string file = read_file(name);
  ASSERT_EQ(file.size(), 54u + 12);
  EXPECT_EQ(get32(file, 2), 66u);
  EXPECT_EQ(get32(file, 10), 54u);
  EXPECT_EQ(file[28], 24);
  EXPECT_EQ(file.substr(54), std::string("\3\2\1\6\5\4\x9\x8\x7\0\0\0", 12));
  EXPECT_EQ(pixels_of(colour.get()), std::string("\1\2\3\4\5\6\7\x8\x9", 9));

  // An image of odd size and many rows reads back as written, and stays as
  // it was.
  ImagePtr big(image_create(5, 7, QOR_RGB));
  for (int i = 0; i < 105; ++i) big->pixels[i] = static_cast<unsigned char>(i * 13 + 1);
  const std::string before = pixels_of(big.get());
  ASSERT_EQ(write_bmp(name.c_str(), big.get()), Status::ok);
  EXPECT_EQ(pixels_of(big.get()), before);
  ImagePtr back(read_bmp(name.c_str()));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->width, 5);
  EXPECT_EQ(back->height, 7);
  EXPECT_EQ(pixels_of(back.get()), before);
}

TEST(BmpWrite, Failures) {
  TempDir dir;
  ImagePtr gray(image_create(3, 3, QOR_GRAY));
  for (int i = 0; i < 9; ++i) gray->pixels[i] = 0;
  EXPECT_EQ(write_bmp((dir.path() + "/no/such/x.bmp").c_str(), gray.get()), Status::cannot_open);
  if (qortest::file_exists("/dev/full")) {
    EXPECT_EQ(write_bmp("/dev/full", gray.get()), Status::cannot_write);
    EXPECT_TRUE(qortest::file_exists("/dev/full"));
  }
}

}  // namespace
