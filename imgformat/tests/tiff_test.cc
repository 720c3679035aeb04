#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli_util.h"
#include "formats.h"
#include "image_test_util.h"
#include "qorimage.h"

namespace {

using qortest::read_file;
using qortest::TempDir;
using qortest::write_file;

ImagePtr read_quietly(const std::string &path, std::string *errors = nullptr) {
  ImageMessages messages;
  testing::internal::CaptureStderr();
  ImagePtr image(read_tiff(path.c_str(), &messages));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the reader prints nothing
  EXPECT_EQ(messages.out, "");
  if (errors) *errors = messages.err;
  return image;
}

// Files written by ImageMagick and netpbm in many layouts (strips, tiles,
// separate planes, bottom-up rows, no, LZW, Deflate and Group 4 compression,
// palettes, 1, 8 and 16 bits) decode to the pixels ImageMagick reports for
// the picture in its stated orientation.
TEST(TiffRead, MatchesIndependentTools) {
  const std::string data = QOR_TEST_DATA "/tiff/";
  const char *gray[] = {"im_gray8", "im_gray8_lzw", "nb_gray8", "im_bilevel_g4",
                        "im_pal_gray", "im_rgb_allgray"};
  for (const char *stem : gray) {
    SCOPED_TRACE(stem);
    ImagePtr image = read_quietly(data + stem + ".tif");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, QOR_GRAY);
    EXPECT_EQ(image->width, 5);
    EXPECT_EQ(image->height, 4);
    EXPECT_EQ(pixels_of(image.get()), read_file(data + stem + ".gray"));
  }
  const char *colour[] = {"im_rgb8",     "im_rgb8_zip",      "im_rgb8_planar", "im_rgb8_tiled",
                          "nb_rgb8_lzw", "im_rgb8_bottomup", "im_pal"};
  for (const char *stem : colour) {
    SCOPED_TRACE(stem);
    ImagePtr image = read_quietly(data + stem + ".tif");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, QOR_RGB);
    EXPECT_EQ(image->width, 5);
    EXPECT_EQ(image->height, 4);
    EXPECT_EQ(pixels_of(image.get()), read_file(data + stem + ".rgb"));
  }
  // ImageMagick reports 16-bit samples (most significant byte first); they
  // come out rounded to the nearest 8-bit level.
  ImagePtr image = read_quietly(data + "im_rgb16.tif");
  ASSERT_TRUE(image);
  EXPECT_EQ(image->type, QOR_RGB);
  const std::string wide = read_file(data + "im_rgb16.rgb16");
  std::string expected;
  for (size_t i = 0; i + 1 < wide.size(); i += 2) {
    unsigned v = static_cast<unsigned char>(wide[i]) * 256u + static_cast<unsigned char>(wide[i + 1]);
    expected += static_cast<char>((v + 128) / 257);
  }
  EXPECT_EQ(pixels_of(image.get()), expected);
  // The bottom-up file stores the plain file's rows under an orientation
  // that puts the first stored row at the bottom of the picture.
  ImagePtr plain = read_quietly(data + "im_rgb8.tif");
  ImagePtr flipped = read_quietly(data + "im_rgb8_bottomup.tif");
  ASSERT_TRUE(plain && flipped);
  const std::string top_first = pixels_of(plain.get());
  std::string bottom_first;
  for (int y = 3; y >= 0; --y) bottom_first += top_first.substr(y * 15, 15);
  EXPECT_EQ(pixels_of(flipped.get()), bottom_first);
}

// A little-endian TIFF with one directory of short/long entries and the
// given strip data, for headers the tools would not write.
std::string tiff_file(const std::vector<std::pair<uint16_t, uint32_t>> &entries,
                      const std::string &strip) {
  auto put16 = [](std::string *s, uint32_t v) {
    s->push_back(static_cast<char>(v & 0xFF));
    s->push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  auto put32 = [&](std::string *s, uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
  };
  std::string s = "II";
  put16(&s, 42);
  put32(&s, 8);
  put16(&s, static_cast<uint32_t>(entries.size()));
  const uint32_t strip_offset = 8 + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  for (const auto &e : entries) {
    put16(&s, e.first);
    put16(&s, 4);  // LONG
    put32(&s, 1);
    put32(&s, e.first == 273 ? strip_offset : e.second);
  }
  put32(&s, 0);
  return s + strip;
}

std::string gray_tiff(uint32_t width, uint32_t height, uint32_t compression,
                      const std::string &strip, uint32_t strip_bytes) {
  return tiff_file({{256, width},
                    {257, height},
                    {258, 8},
                    {259, compression},
                    {262, 1},
                    {273, 0},
                    {277, 1},
                    {278, height},
                    {279, strip_bytes}},
                   strip);
}

TEST(TiffRead, HandMadeFile) {
  TempDir dir;
  const std::string name = dir.file("h.tif");
  write_file(name, gray_tiff(3, 2, 1, "\x01\x02\x03\x04\x05\x06", 6));
  ImagePtr image = read_quietly(name);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->type, QOR_GRAY);
  EXPECT_EQ(pixels_of(image.get()), "\x01\x02\x03\x04\x05\x06");
}

TEST(TiffRead, RefusedFiles) {
  TempDir dir;
  const std::string name = dir.file("r.tif");
  std::string errors;
  write_file(name, "not a TIFF file");
  EXPECT_FALSE(read_quietly(name, &errors));
  EXPECT_NE(errors, "");  // libtiff's own message
  EXPECT_FALSE(read_quietly(dir.file("missing.tif")));

  // A strip cut short: libtiff reports it, and no image is given.
  write_file(name, gray_tiff(3, 2, 1, "\x01\x02\x03", 6));
  EXPECT_FALSE(read_quietly(name, &errors));
  EXPECT_NE(errors.find("Read error on strip 0"), std::string::npos);
  // A header promising 20000 x 20000 pixels over a few bytes, compressed or
  // not: refused before a raster of that size is allocated.
  write_file(name, gray_tiff(20000, 20000, 1, "\x01\x02\x03", 400000000u));
  EXPECT_FALSE(read_quietly(name, &errors));
  EXPECT_EQ(errors.find("Read error"), std::string::npos);  // no strip was read
  write_file(name, gray_tiff(20000, 20000, 8, "\x01\x02\x03", 3));
  EXPECT_FALSE(read_quietly(name, &errors));
  EXPECT_EQ(errors.find("Deflate"), std::string::npos);  // nothing was decoded

  // Every cut of a real file is refused or read without fault.
  const std::string whole = read_file(QOR_TEST_DATA "/tiff/im_rgb8_zip.tif");
  for (size_t n = 0; n < whole.size(); n += 3) {
    write_file(name, whole.substr(0, n));
    ImagePtr image = read_quietly(name);
    if (image) {
      EXPECT_EQ(image->width, 5);
      EXPECT_EQ(image->height, 4);
    }
  }
}

}  // namespace
