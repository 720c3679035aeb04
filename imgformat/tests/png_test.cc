#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
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

// Reads through read_png, keeping its standard-error text.
ImagePtr read_quietly(const std::string &path, std::string *errors = nullptr) {
  ImageMessages messages;
  testing::internal::CaptureStderr();
  ImagePtr image(read_png(path.c_str(), &messages));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // the reader prints nothing
  EXPECT_EQ(messages.out, "");
  if (errors) *errors = messages.err;
  return image;
}

// A PNG written with libpng itself, so that the test controls every chunk.
struct PngFileParams {
  int width = 1, height = 1;
  int colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  int depth = 8;
  bool interlace = false;
  bool background = false;
  png_color_16 background_colour = {};
  double gamma = 0;  // written as gAMA when non-zero
  std::vector<png_color> palette;
  std::vector<png_byte> palette_alpha;
  std::string samples;  // rows, top first, in the file's own layout
};

bool write_test_png(const std::string &path, const PngFileParams &params) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, params.width, params.height, params.depth, params.colour_type,
               params.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!params.palette.empty())
    png_set_PLTE(png, info, params.palette.data(), static_cast<int>(params.palette.size()));
  if (!params.palette_alpha.empty())
    png_set_tRNS(png, info, params.palette_alpha.data(), static_cast<int>(params.palette_alpha.size()),
                 nullptr);
  if (params.background) png_set_bKGD(png, info, &params.background_colour);
  if (params.gamma != 0) png_set_gAMA(png, info, params.gamma);
  png_write_info(png, info);
  const size_t row_bytes = params.samples.size() / params.height;
  std::vector<png_bytep> rows(params.height);
  for (int y = 0; y < params.height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(const_cast<char *>(params.samples.data())) + y * row_bytes;
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  return true;
}

// The weighted mean of a sample and the background, rounded to nearest.
int composed(int sample, int alpha, int background) {
  return (2 * (sample * alpha + background * (255 - alpha)) + 255) / 510;
}

// Files written by ImageMagick and netpbm in every colour type and depth
// decode to the pixels ImageMagick reports for them, after it has laid them
// over the file's background colour, or black without one. ImageMagick
// reports 16 bits a sample; the reader keeps the high byte. Where a pixel is
// partly transparent ImageMagick truncates the weighted mean and libpng
// rounds it, so there the two may differ by one.
TEST(PngRead, MatchesIndependentTools) {
  const std::string data = QOR_TEST_DATA "/png/";
  struct Case {
    const char *stem;
    const char *expected;  // extension of the reported pixels
    bool alpha;            // an alpha map was reported too
  } cases[] = {
      {"im_gray1", "gray", false},       {"nb_gray1", "gray", false},
      {"im_gray2", "gray", false},       {"im_gray4", "gray", false},
      {"im_gray8", "gray", false},       {"im_gray16", "gray16", false},
      {"im_rgb8", "rgb", false},         {"im_rgb16", "rgb16", false},
      {"im_rgb8_interlaced", "rgb", false}, {"nb_rgb8_interlaced", "rgb", false},
      {"im_pal", "rgb", false},          {"im_pal_trns", "rgb", false},
      {"im_pal_trns_bkgd", "rgb", false}, {"im_rgba16", "rgb16", false},
      {"im_rgba", "rgb", true},          {"im_rgba_bkgd", "rgb", true},
      {"im_gray_alpha", "gray", true},   {"nb_gray_alpha", "gray", true},
      {"nb_gray_alpha_bkgd", "gray", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string ext = c.expected;
    const bool gray = ext.compare(0, 4, "gray") == 0;
    std::string expected = read_file(data + c.stem + "." + ext);
    if (ext.back() == '6') {  // 16-bit samples, most significant byte first
      std::string high;
      for (size_t i = 0; i < expected.size(); i += 2) high += expected[i];
      expected = high;
    }
    ImagePtr image = read_quietly(data + c.stem + ".png");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, gray ? QOR_GRAY : QOR_RGB);
    EXPECT_EQ(image->width, 6);
    EXPECT_EQ(image->height, 4);
    const std::string got = pixels_of(image.get());
    ASSERT_EQ(got.size(), expected.size());
    if (!c.alpha) {
      EXPECT_EQ(got, expected);
      continue;
    }
    const std::string alpha = read_file(data + c.stem + ".alpha");
    const size_t channels = gray ? 1 : 3;
    ASSERT_EQ(alpha.size() * channels, expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      const int a = static_cast<unsigned char>(alpha[i / channels]);
      const int diff = static_cast<unsigned char>(got[i]) - static_cast<unsigned char>(expected[i]);
      if (a == 0 || a == 255)
        EXPECT_EQ(diff, 0) << "sample " << i;
      else
        EXPECT_TRUE(diff == 0 || diff == 1) << "sample " << i << " alpha " << a;
    }
  }
}

TEST(PngRead, OneBitGrayIsBlackAndWhite) {
  ImagePtr image = read_quietly(QOR_TEST_DATA "/png/nb_gray1.png");
  ASSERT_TRUE(image);
  int black = 0, white = 0;
  for (char c : pixels_of(image.get())) {
    if (c == 0) ++black;
    if (static_cast<unsigned char>(c) == 255) ++white;
  }
  EXPECT_GT(black, 0);
  EXPECT_GT(white, 0);
  EXPECT_EQ(black + white, 24);
}

// Transparency is laid over the background chunk's colour, or black
// without one, as the rounded weighted mean of the stored values; a gAMA
// chunk changes nothing.
TEST(PngRead, AlphaComposition) {
  TempDir dir;
  const std::string name = dir.file("a.png");
  PngFileParams params;
  params.width = 3;
  params.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  params.samples = std::string("\xc8\x64\x32\x80" "\x0a\x14\x1e\x00" "\x01\x02\x03\xff", 12);
  for (double gamma : {0.0, 0.45455}) {
    SCOPED_TRACE(gamma);
    params.gamma = gamma;
    params.background = false;
    ASSERT_TRUE(write_test_png(name, params));
    ImagePtr image = read_quietly(name);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, QOR_RGB);
    std::string expected = {static_cast<char>(composed(200, 128, 0)),
                            static_cast<char>(composed(100, 128, 0)),
                            static_cast<char>(composed(50, 128, 0)), 0, 0, 0, 1, 2, 3};
    EXPECT_EQ(pixels_of(image.get()), expected);
    EXPECT_EQ(expected.substr(0, 3), "\x64\x32\x19");  // 100.4, 50.2, 25.1

    params.background = true;
    params.background_colour.red = 0;
    params.background_colour.green = 0;
    params.background_colour.blue = 255;
    ASSERT_TRUE(write_test_png(name, params));
    image = read_quietly(name);
    ASSERT_TRUE(image);
    expected = {static_cast<char>(composed(200, 128, 0)), static_cast<char>(composed(100, 128, 0)),
                static_cast<char>(composed(50, 128, 255)), 0, 0, '\xff', 1, 2, 3};
    EXPECT_EQ(pixels_of(image.get()), expected);
  }

  // Gray with alpha gives a gray image.
  params = PngFileParams();
  params.width = 2;
  params.colour_type = PNG_COLOR_TYPE_GRAY_ALPHA;
  params.samples = std::string("\x13\xc8\x50\x00", 4);
  ASSERT_TRUE(write_test_png(name, params));
  ImagePtr image = read_quietly(name);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->type, QOR_GRAY);
  EXPECT_EQ(pixels_of(image.get()), std::string("\x0f\x00", 2));  // 19 * 200 / 255 = 14.9
}

TEST(PngRead, PaletteWithAndWithoutBackground) {
  TempDir dir;
  const std::string name = dir.file("p.png");
  PngFileParams params;
  params.width = 4;
  params.colour_type = PNG_COLOR_TYPE_PALETTE;
  params.depth = 2;
  params.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}};
  params.samples = std::string("\x1b", 1);  // indices 0, 1, 2, 3
  ASSERT_TRUE(write_test_png(name, params));
  ImagePtr image = read_quietly(name);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->type, QOR_RGB);
  EXPECT_EQ(pixels_of(image.get()), "\x0a\x14\x1e\x28\x32\x3c\x46\x50\x5a\x64\x6e\x78");

  // Entry 1 fully transparent: black, or the background entry's colour.
  params.palette_alpha = {255, 0};
  ASSERT_TRUE(write_test_png(name, params));
  image = read_quietly(name);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()),
            std::string("\x0a\x14\x1e\0\0\0\x46\x50\x5a\x64\x6e\x78", 12));
  params.background = true;
  params.background_colour.index = 3;
  ASSERT_TRUE(write_test_png(name, params));
  image = read_quietly(name);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), "\x0a\x14\x1e\x64\x6e\x78\x46\x50\x5a\x64\x6e\x78");
}

TEST(PngRead, SixteenBitsKeepTheHighByte) {
  TempDir dir;
  const std::string name = dir.file("s.png");
  PngFileParams params;
  params.width = 2;
  params.colour_type = PNG_COLOR_TYPE_RGB;
  params.depth = 16;
  params.samples = std::string("\x80\xff\x12\x34\x00\xff" "\xff\xff\x7f\x80\x01\x00", 12);
  ASSERT_TRUE(write_test_png(name, params));
  ImagePtr image = read_quietly(name);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->type, QOR_RGB);
  EXPECT_EQ(pixels_of(image.get()), std::string("\x80\x12\x00\xff\x7f\x01", 6));
}

TEST(PngRead, InterlacedFileOfEveryPass) {
  TempDir dir;
  const std::string name = dir.file("i.png");
  PngFileParams params;
  params.width = 11;
  params.height = 9;
  params.colour_type = PNG_COLOR_TYPE_GRAY;
  params.interlace = true;
  for (int i = 0; i < 99; ++i) params.samples += static_cast<char>(i * 7 + 3);
  ASSERT_TRUE(write_test_png(name, params));
  ImagePtr image = read_quietly(name);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), params.samples);
}

std::string chunk(const char *type, const std::string &body) {
  std::string s;
  const uint32_t n = static_cast<uint32_t>(body.size());
  s += static_cast<char>(n >> 24);
  s += static_cast<char>(n >> 16);
  s += static_cast<char>(n >> 8);
  s += static_cast<char>(n);
  std::string typed = std::string(type) + body;
  uLong crc = crc32(0, reinterpret_cast<const Bytef *>(typed.data()), static_cast<uInt>(typed.size()));
  s += typed;
  s += static_cast<char>(crc >> 24);
  s += static_cast<char>(crc >> 16);
  s += static_cast<char>(crc >> 8);
  s += static_cast<char>(crc);
  return s;
}

std::string be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

TEST(PngRead, DamagedAndOversizedFiles) {
  TempDir dir;
  const std::string name = dir.file("d.png");
  std::string errors;
  EXPECT_FALSE(read_quietly(dir.file("missing.png"), &errors));
  EXPECT_EQ(errors, "");

  write_file(name, "not a PNG file at all");
  EXPECT_FALSE(read_quietly(name, &errors));
  EXPECT_NE(errors.find("libpng error: "), std::string::npos);

  // A good file cut short anywhere is refused.
  PngFileParams params;
  params.width = 5;
  params.height = 5;
  params.colour_type = PNG_COLOR_TYPE_RGB;
  for (int i = 0; i < 75; ++i) params.samples += static_cast<char>(i * 31);
  ASSERT_TRUE(write_test_png(name, params));
  const std::string good = read_file(name);
  ASSERT_TRUE(read_quietly(name));
  for (size_t n = 0; n + 12 < good.size(); ++n) {  // the last 12 bytes are IEND
    write_file(name, good.substr(0, n));
    EXPECT_FALSE(read_quietly(name)) << n;
  }

  // A header of 20000 x 20000 gray pixels over a few bytes of data is
  // refused before anything of that size is allocated or read (libpng would
  // complain of missing data only after the allocation).
  std::string ihdr = be32(20000) + be32(20000) + std::string("\x08\x00\x00\x00\x00", 5);
  unsigned char deflated[64];
  uLongf deflated_size = sizeof deflated;
  const unsigned char row[4] = {0, 1, 2, 3};
  ASSERT_EQ(compress(deflated, &deflated_size, row, sizeof row), Z_OK);
  const std::string signature("\x89PNG\r\n\x1a\n", 8);
  write_file(name, signature + chunk("IHDR", ihdr) +
                       chunk("IDAT", std::string(reinterpret_cast<char *>(deflated), deflated_size)) +
                       chunk("IEND", ""));
  EXPECT_FALSE(read_quietly(name, &errors));
  EXPECT_EQ(errors, "");
}

TEST(PngWrite, RoundTripsAndTallImages) {
  TempDir dir;
  const std::string name = dir.file("w.png");
  for (int type : {QOR_GRAY, QOR_RGB}) {
    for (int height : {3, 2000}) {  // more rows than a fixed table of 1500 would hold
      SCOPED_TRACE(height);
      ImagePtr image(image_create(7, height, type));
      const size_t n = static_cast<size_t>(7) * height * image->bytes_per_pixel;
      for (size_t i = 0; i < n; ++i) image->pixels[i] = static_cast<unsigned char>(i * 11 + i / 97);
      ASSERT_EQ(write_png(name.c_str(), image.get()), Status::ok);
      ImagePtr back = read_quietly(name);
      ASSERT_TRUE(back);
      EXPECT_EQ(back->type, type);
      EXPECT_EQ(back->width, 7);
      EXPECT_EQ(back->height, height);
      EXPECT_EQ(pixels_of(back.get()), pixels_of(image.get()));
    }
  }
}

TEST(PngWrite, Failures) {
  TempDir dir;
  ImagePtr hsv(image_create(2, 2, QOR_HSV));
  for (int i = 0; i < 12; ++i) hsv->pixels[i] = 0;
  const std::string name = dir.file("h.png");
  EXPECT_EQ(write_png(name.c_str(), hsv.get()), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(name));

  ImagePtr gray(image_create(2, 2, QOR_GRAY));
  for (int i = 0; i < 4; ++i) gray->pixels[i] = 0;
  EXPECT_EQ(write_png((dir.path() + "/no/such/x.png").c_str(), gray.get()), Status::cannot_open);
  if (qortest::file_exists("/dev/full")) {
    // The loss shows when the buffered bytes are flushed at the close.
    EXPECT_EQ(write_png("/dev/full", gray.get()), Status::cannot_write);
    EXPECT_TRUE(qortest::file_exists("/dev/full"));
  }
  // An empty image has no PNG form.
  ImagePtr empty(image_create(0, 3, QOR_GRAY));
  ImageMessages messages;
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_png(dir.file("e.png").c_str(), empty.get(), &messages), Status::cannot_write);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(messages.err,
            "libpng warning: Image width is zero in IHDR\nlibpng error: Invalid IHDR data\n");
  EXPECT_FALSE(qortest::file_exists(dir.file("e.png")));
  // A failed write keeps the earlier file.
  write_file(dir.file("e.png"), "earlier");
  EXPECT_EQ(write_png(dir.file("e.png").c_str(), empty.get()), Status::cannot_write);
  EXPECT_EQ(read_file(dir.file("e.png")), "earlier");
}

}  // namespace
