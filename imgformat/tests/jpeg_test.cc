// JPEG reader and writer. Files are also made and inspected with the JPEG
// library directly, so that the tests do not only check the two functions
// against each other.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <gtest/gtest.h>

#include "cli_util.h"
#include "formats.h"
#include "qorimage.h"

namespace {

// Encodes `pixels` (rows top first, `components` bytes per pixel) with the
// library's defaults for the given input colour space.
void encode(const std::string &path, int width, int height, J_COLOR_SPACE space, int components,
            const std::vector<unsigned char> &pixels, int quality = 90) {
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  jpeg_stdio_dest(&info, file);
  info.image_width = width;
  info.image_height = height;
  info.input_components = components;
  info.in_color_space = space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<unsigned char *>(pixels.data()) +
                   static_cast<size_t>(info.next_scanline) * width * components;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  std::fclose(file);
  jpeg_destroy_compress(&info);
}

struct Decoded {
  int width = 0, height = 0, components = 0;
  J_COLOR_SPACE file_space = JCS_UNKNOWN;
  std::vector<unsigned char> pixels;
};

Decoded decode(const std::string &path) {
  Decoded d;
  jpeg_decompress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_decompress(&info);
  FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return d;
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  d.file_space = info.jpeg_color_space;
  jpeg_start_decompress(&info);
  d.width = info.output_width;
  d.height = info.output_height;
  d.components = info.output_components;
  d.pixels.resize(static_cast<size_t>(d.width) * d.height * d.components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = d.pixels.data() + static_cast<size_t>(info.output_scanline) * d.width * d.components;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return d;
}

int max_difference(const unsigned char *a, const unsigned char *b, size_t n) {
  int worst = 0;
  for (size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

// Four flat 16 x 16 quadrants: red, green / blue, white. Flat blocks survive
// compression almost unchanged and reveal swapped channels or rows.
std::vector<unsigned char> quadrants() {
  const unsigned char colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  std::vector<unsigned char> pixels(32 * 32 * 3);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      for (int c = 0; c < 3; ++c)
        pixels[(y * 32 + x) * 3 + c] = colours[(y / 16) * 2 + x / 16][c];
  return pixels;
}

TEST(JpegRead, ColourFileGivesRgbInRedGreenBlueOrder) {
  qortest::TempDir dir;
  const std::string path = dir.file("q.jpg");
  const std::vector<unsigned char> source = quadrants();
  encode(path, 32, 32, JCS_RGB, 3, source);
  QORImage *image = read_jpeg(path.c_str());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width, 32);
  EXPECT_EQ(image->height, 32);
  EXPECT_EQ(image->type, QOR_RGB);
  EXPECT_EQ(image->bytes_per_pixel, 3);
  EXPECT_EQ(image->bits_per_pixel, 24);
  // Quadrant centres, away from the chroma edges.
  for (int q = 0; q < 4; ++q) {
    const int x = (q % 2) * 16 + 8, y = (q / 2) * 16 + 8;
    const size_t at = (static_cast<size_t>(y) * 32 + x) * 3;
    EXPECT_LE(max_difference(image->pixels + at, source.data() + at, 3), 6) << "quadrant " << q;
  }
  // Exactly what the library itself decodes.
  const Decoded reference = decode(path);
  ASSERT_EQ(reference.pixels.size(), 32u * 32u * 3u);
  EXPECT_EQ(max_difference(image->pixels, reference.pixels.data(), reference.pixels.size()), 0);
  image_free(image);
}

TEST(JpegRead, GrayFileGivesGray) {
  qortest::TempDir dir;
  const std::string path = dir.file("g.jpg");
  std::vector<unsigned char> source(24 * 10);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i % 24 * 10);
  encode(path, 24, 10, JCS_GRAYSCALE, 1, source);
  QORImage *image = read_jpeg(path.c_str());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->type, QOR_GRAY);
  EXPECT_EQ(image->bytes_per_pixel, 1);
  EXPECT_EQ(image->bits_per_pixel, 8);
  EXPECT_EQ(image->width, 24);
  EXPECT_EQ(image->height, 10);
  const Decoded reference = decode(path);
  EXPECT_EQ(max_difference(image->pixels, reference.pixels.data(), reference.pixels.size()), 0);
  image_free(image);
}

TEST(JpegRead, CmykGivesNull) {
  qortest::TempDir dir;
  const std::string path = dir.file("cmyk.jpg");
  std::vector<unsigned char> source(16 * 8 * 4, 100);
  encode(path, 16, 8, JCS_CMYK, 4, source);
  ASSERT_EQ(decode(path).components, 4);
  EXPECT_EQ(read_jpeg(path.c_str()), nullptr);
}

TEST(JpegRead, NotJpegGivesNullWithTheLibraryMessage) {
  qortest::TempDir dir;
  const std::string path = dir.file("text.jpg");
  qortest::write_file(path, "P2\n2 2\n255\n0 0 0 0\n");
  ImageMessages messages;
  testing::internal::CaptureStderr();
  QORImage *image = read_jpeg(path.c_str(), &messages);
  // The reader prints nothing itself.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(messages.err, "Not a JPEG file: starts with 0x50 0x32\n");
  EXPECT_EQ(messages.out, "");
  EXPECT_EQ(messages.fatal_status, 0);

  // An empty file and a missing one.
  qortest::write_file(dir.file("empty.jpg"), "");
  messages = ImageMessages();
  EXPECT_EQ(read_jpeg(dir.file("empty.jpg").c_str(), &messages), nullptr);
  EXPECT_FALSE(messages.err.empty());
  const std::string missing = dir.file("missing.jpg");
  messages = ImageMessages();
  EXPECT_EQ(read_jpeg(missing.c_str(), &messages), nullptr);
  EXPECT_EQ(messages.err, "can't open " + missing + "\n");
}

// Byte offset of the first baseline frame header (0xFF 0xC0).
size_t frame_header(const std::string &bytes) {
  for (size_t i = 0; i + 1 < bytes.size(); ++i)
    if (static_cast<unsigned char>(bytes[i]) == 0xFF && static_cast<unsigned char>(bytes[i + 1]) == 0xC0)
      return i;
  return std::string::npos;
}

TEST(JpegRead, DimensionsBeyondAnIntBlockAreRefused) {
  qortest::TempDir dir;
  const std::string small = dir.file("small.jpg");
  encode(small, 8, 8, JCS_RGB, 3, std::vector<unsigned char>(8 * 8 * 3, 50));
  std::string bytes = qortest::read_file(small);
  const size_t sof = frame_header(bytes);
  ASSERT_NE(sof, std::string::npos);
  // Frame header: marker, length (2), precision (1), height (2), width (2).
  // 60000 x 60000 x 3 bytes does not fit an int.
  bytes[sof + 5] = bytes[sof + 7] = static_cast<char>(60000 >> 8);
  bytes[sof + 6] = bytes[sof + 8] = static_cast<char>(60000 & 0xFF);
  const std::string large = dir.file("large.jpg");
  qortest::write_file(large, bytes);
  EXPECT_EQ(read_jpeg(large.c_str()), nullptr);
}

// A header whose picture the file is far too short to code is refused
// before the pixel block is allocated: every 8 x 8 block of a Huffman-coded
// picture costs at least one bit. A truncated file that still holds that
// much is read, and a large flat picture (a few bits a block) too.
TEST(JpegRead, HeaderPromisingMoreBlocksThanTheFileHoldsIsRefused) {
  qortest::TempDir dir;
  const std::string small = dir.file("small.jpg");
  encode(small, 8, 8, JCS_GRAYSCALE, 1, std::vector<unsigned char>(8 * 8, 100));
  std::string bytes = qortest::read_file(small);
  const size_t sof = frame_header(bytes);
  ASSERT_NE(sof, std::string::npos);
  // 40000 x 40000 gray fits an int (1.6e9 bytes) but 25 million blocks
  // cannot come from a few hundred bytes.
  bytes[sof + 5] = bytes[sof + 7] = static_cast<char>(40000 >> 8);
  bytes[sof + 6] = bytes[sof + 8] = static_cast<char>(40000 & 0xFF);
  const std::string large = dir.file("large.jpg");
  qortest::write_file(large, bytes);
  QORImage *refused = read_jpeg(large.c_str());
  EXPECT_EQ(refused, nullptr);
  image_free(refused);

  const std::string flat = dir.file("flat.jpg");
  encode(flat, 2048, 2048, JCS_GRAYSCALE, 1, std::vector<unsigned char>(2048 * 2048, 77));
  QORImage *image = read_jpeg(flat.c_str());
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width, 2048);
  EXPECT_EQ(image->height, 2048);
  EXPECT_EQ(image->pixels[2048 * 2048 - 1], 77);
  image_free(image);
}

TEST(JpegRead, DamagedFilesNeverCrash) {
  qortest::TempDir dir;
  const std::string good = dir.file("good.jpg");
  // Busy pixels, so that most of the file is scan data.
  std::vector<unsigned char> noise(64 * 64 * 3);
  unsigned seed = 12345;
  for (unsigned char &v : noise) {
    seed = seed * 1103515245u + 12345u;
    v = static_cast<unsigned char>(seed >> 16);
  }
  encode(good, 64, 64, JCS_RGB, 3, noise);
  const std::string bytes = qortest::read_file(good);

  // Cut short inside the scan: the library warns, fills the rest and the
  // image is returned.
  const std::string cut = dir.file("cut.jpg");
  qortest::write_file(cut, bytes.substr(0, bytes.size() * 3 / 4));
  ImageMessages messages;
  QORImage *image = read_jpeg(cut.c_str(), &messages);
  const std::string warning = messages.err;
  ASSERT_NE(image, nullptr) << warning;
  EXPECT_EQ(image->width, 64);
  EXPECT_NE(warning.find("Premature end"), std::string::npos) << warning;
  image_free(image);

  // Single damaged bytes all through the file: null or a whole image.
  const std::string damaged = dir.file("damaged.jpg");
  for (size_t at = 0; at < bytes.size(); at += 3) {
    std::string copy = bytes;
    seed = seed * 1103515245u + 12345u;
    copy[at] = static_cast<char>(copy[at] ^ static_cast<char>(1 + (seed >> 16) % 255));
    qortest::write_file(damaged, copy);
    QORImage *result = read_jpeg(damaged.c_str());
    if (result) {
      EXPECT_GT(result->width, 0);
      EXPECT_GT(result->height, 0);
      image_free(result);
    }
  }
}

QORImage *gradient(int width, int height, int type) {
  QORImage *image = image_create(width, height, type);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < image->bytes_per_pixel; ++c)
        image->pixels[(y * width + x) * image->bytes_per_pixel + c] =
            static_cast<unsigned char>(40 + 3 * x + 2 * y + 30 * c);
  return image;
}

TEST(JpegWrite, GrayAndRgbReadBackClose) {
  qortest::TempDir dir;
  for (int type : {QOR_GRAY, QOR_RGB}) {
    const std::string path = dir.file(type == QOR_GRAY ? "gray.jpg" : "rgb.jpg");
    QORImage *image = gradient(37, 21, type);
    ASSERT_EQ(write_jpeg(path.c_str(), image, 90), Status::ok);
    const Decoded file = decode(path);
    EXPECT_EQ(file.components, image->bytes_per_pixel);
    EXPECT_EQ(file.file_space, type == QOR_GRAY ? JCS_GRAYSCALE : JCS_YCbCr);
    QORImage *back = read_jpeg(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width, 37);
    EXPECT_EQ(back->height, 21);
    EXPECT_EQ(back->type, type);
    EXPECT_LE(max_difference(back->pixels, image->pixels, 37 * 21 * image->bytes_per_pixel), 8);
    image_free(back);
    image_free(image);
  }
}

TEST(JpegWrite, RgbKeepsChannelAndRowOrder) {
  qortest::TempDir dir;
  const std::string path = dir.file("q.jpg");
  QORImage *image = image_create(32, 32, QOR_RGB);
  const std::vector<unsigned char> source = quadrants();
  std::copy(source.begin(), source.end(), image->pixels);
  ASSERT_EQ(write_jpeg(path.c_str(), image, 95), Status::ok);
  const Decoded file = decode(path);
  ASSERT_EQ(file.pixels.size(), source.size());
  for (int q = 0; q < 4; ++q) {
    const size_t at = (static_cast<size_t>((q / 2) * 16 + 8) * 32 + (q % 2) * 16 + 8) * 3;
    EXPECT_LE(max_difference(file.pixels.data() + at, source.data() + at, 3), 6) << q;
  }
  image_free(image);
}

TEST(JpegWrite, QualityGoesToTheLibraryUnchanged) {
  qortest::TempDir dir;
  QORImage *image = gradient(40, 24, QOR_RGB);
  std::vector<unsigned char> pixels(image->pixels, image->pixels + 40 * 24 * 3);
  ASSERT_EQ(write_jpeg(dir.file("ours.jpg").c_str(), image, 80), Status::ok);
  encode(dir.file("library.jpg"), 40, 24, JCS_RGB, 3, pixels, 80);
  EXPECT_EQ(qortest::read_file(dir.file("ours.jpg")), qortest::read_file(dir.file("library.jpg")));
  ASSERT_EQ(write_jpeg(dir.file("low.jpg").c_str(), image, 5), Status::ok);
  EXPECT_LT(qortest::read_file(dir.file("low.jpg")).size(),
            qortest::read_file(dir.file("ours.jpg")).size());
  image_free(image);
}

TEST(JpegWrite, UnopenableFileAndHsvAreRefused) {
  qortest::TempDir dir;
  QORImage *image = gradient(8, 8, QOR_RGB);
  const std::string nowhere = dir.file("no/such/dir/x.jpg");
  ImageMessages messages;
  EXPECT_EQ(write_jpeg(nowhere.c_str(), image, 80, &messages), Status::cannot_open);
  EXPECT_EQ(messages.err, "can't open " + nowhere + "\n");
  EXPECT_EQ(messages.fatal_status, 0);

  image->type = QOR_HSV;
  const std::string hsv = dir.file("hsv.jpg");
  messages = ImageMessages();
  EXPECT_EQ(write_jpeg(hsv.c_str(), image, 80, &messages), Status::invalid_argument);
  EXPECT_EQ(messages.err, hsv + ": only gray and RGB images can be written as JPEG\n");
  EXPECT_FALSE(qortest::file_exists(hsv));
  image_free(image);
}

// A library error gives the library's message and the file's name, is
// marked fatal with status 1, and leaves no file (or the earlier one).
TEST(JpegWrite, LibraryErrorIsFatalWithStatusOneAndKeepsTheEarlierFile) {
  qortest::TempDir dir;
  const std::string path = dir.file("empty.jpg");
  QORImage *image = image_create(0, 5, QOR_GRAY);
  ImageMessages messages;
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_jpeg(path.c_str(), image, 80, &messages), Status::cannot_write);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(messages.err, "Empty JPEG image (DNL not supported)\ncan't write " + path + "\n");
  EXPECT_EQ(messages.fatal_status, 1);
  EXPECT_FALSE(qortest::file_exists(path));

  qortest::write_file(path, "earlier");
  EXPECT_EQ(write_jpeg(path.c_str(), image, 80), Status::cannot_write);
  EXPECT_EQ(qortest::read_file(path), "earlier");
  image_free(image);
}

}  // namespace
