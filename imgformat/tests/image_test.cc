// QORImage life cycle and the extension dispatch of image_read/image_write.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cli_util.h"
#include "extension.h"
#include "qorimage.h"

namespace {

TEST(ImageCreate, FieldsFollowTheType) {
  QORImage *gray = image_create(0, 0, QOR_GRAY);
  ASSERT_NE(gray, nullptr);
  EXPECT_EQ(gray->width, 0);
  EXPECT_EQ(gray->height, 0);
  EXPECT_EQ(gray->bits_per_pixel, 8);
  EXPECT_EQ(gray->bytes_per_pixel, 1);
  EXPECT_EQ(gray->type, QOR_GRAY);
  EXPECT_NE(gray->pixels, nullptr);
  image_free(gray);

  for (int type : {QOR_RGB, QOR_HSV}) {
    QORImage *image = image_create(7, 5, type);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 7);
    EXPECT_EQ(image->height, 5);
    EXPECT_EQ(image->bits_per_pixel, 24);
    EXPECT_EQ(image->bytes_per_pixel, 3);
    EXPECT_EQ(image->type, type);
    // The whole block is writable (checked by the sanitizers).
    std::memset(image->pixels, 0x5a, 7 * 5 * 3);
    image_free(image);
  }
}

TEST(ImageCreate, RefusesBadArgumentsAndOversizedBlocks) {
  EXPECT_EQ(image_create(-1, 4, QOR_GRAY), nullptr);
  EXPECT_EQ(image_create(4, -1, QOR_GRAY), nullptr);
  EXPECT_EQ(image_create(4, 4, 3), nullptr);
  EXPECT_EQ(image_create(4, 4, -1), nullptr);
  // width * height * bytes beyond an int is refused, not wrapped around.
  EXPECT_EQ(image_create(46341, 46341, QOR_GRAY), nullptr);
  EXPECT_EQ(image_create(INT_MAX, 2, QOR_GRAY), nullptr);
  EXPECT_EQ(image_create(INT_MAX / 3 + 1, 1, QOR_RGB), nullptr);
  EXPECT_EQ(image_create(65536, 65536, QOR_RGB), nullptr);
  image_free(nullptr);  // ignored
}

TEST(ImageCopy, IsIndependentWithTheSameBytes) {
  QORImage *source = image_create(3, 2, QOR_RGB);
  ASSERT_NE(source, nullptr);
  for (int i = 0; i < 18; ++i) source->pixels[i] = static_cast<unsigned char>(10 * i + 1);
  QORImage *copy = image_copy(source);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->width, 3);
  EXPECT_EQ(copy->height, 2);
  EXPECT_EQ(copy->type, QOR_RGB);
  EXPECT_EQ(copy->bytes_per_pixel, 3);
  EXPECT_EQ(copy->bits_per_pixel, 24);
  EXPECT_NE(copy->pixels, source->pixels);
  EXPECT_EQ(std::memcmp(copy->pixels, source->pixels, 18), 0);
  source->pixels[0] = 0;
  EXPECT_EQ(copy->pixels[0], 1);
  image_free(source);
  image_free(copy);

  QORImage *empty = image_create(0, 3, QOR_GRAY);
  QORImage *empty_copy = image_copy(empty);
  ASSERT_NE(empty_copy, nullptr);
  EXPECT_EQ(empty_copy->height, 3);
  image_free(empty);
  image_free(empty_copy);
  EXPECT_EQ(image_copy(nullptr), nullptr);
}

std::string extension_of(const char *name, bool lower_case, int *length) {
  char buffer[IMAGE_EXTENSION_MAX + 1];
  std::memset(buffer, 'z', sizeof buffer);
  *length = image_extension(name, buffer, lower_case);
  return std::string(buffer, strnlen(buffer, sizeof buffer));
}

TEST(ImageExtension, BackwardSearchOverTheWholeName) {
  int k = -1;
  EXPECT_EQ(extension_of("a.JPEG", true, &k), ".jpeg");
  EXPECT_EQ(k, 5);
  EXPECT_EQ(extension_of("a.JPEG", false, &k), ".JPEG");
  EXPECT_EQ(extension_of("photos/b.c.Png", true, &k), ".png");
  EXPECT_EQ(k, 4);
  EXPECT_EQ(extension_of("pic.", true, &k), ".");
  EXPECT_EQ(k, 1);
  // No dot, or only a leading one: no extension.
  EXPECT_EQ(extension_of("picture", true, &k), "");
  EXPECT_EQ(k, 0);
  EXPECT_EQ(extension_of(".jpg", true, &k), "");
  EXPECT_EQ(k, 0);
  EXPECT_EQ(extension_of("", true, &k), "");
  EXPECT_EQ(k, 0);
  // Directory separators do not stop the search; too long for the buffer.
  EXPECT_EQ(extension_of("dir.old/pic", true, &k), "");
  EXPECT_EQ(k, 8);
  // A dot anywhere but first counts, even in a directory part.
  EXPECT_EQ(extension_of("/tmp/.jpg", true, &k), ".jpg");
}

TEST(ImageExtension, TableOrderAndLeadingParts) {
  struct Case {
    const char *name;
    ImageFormatKind read, write;
  } cases[] = {
      {"a.jpg", FORMAT_JPEG, FORMAT_JPEG},   {"a.jpeg", FORMAT_JPEG, FORMAT_JPEG},
      {"a.JPEG", FORMAT_JPEG, FORMAT_NONE},  {"a.Jpg", FORMAT_JPEG, FORMAT_NONE},
      {"a.jp", FORMAT_JPEG, FORMAT_JPEG},    {"a.jpe", FORMAT_JPEG, FORMAT_JPEG},
      {"a.", FORMAT_JPEG, FORMAT_JPEG},      {"a.t", FORMAT_TIFF, FORMAT_TIFF},
      {"a.tif", FORMAT_TIFF, FORMAT_TIFF},   {"a.TIFF", FORMAT_TIFF, FORMAT_NONE},
      {"a.gif", FORMAT_GIF, FORMAT_GIF},     {"a.g", FORMAT_GIF, FORMAT_GIF},
      {"a.p", FORMAT_PNG, FORMAT_PNG},       {"a.png", FORMAT_PNG, FORMAT_PNG},
      {"a.pg", FORMAT_PGM, FORMAT_PGM},      {"a.pgm", FORMAT_PGM, FORMAT_PGM},
      {"a.PPM", FORMAT_PPM, FORMAT_NONE},    {"a.bmp", FORMAT_BMP, FORMAT_BMP},
      {"a.b", FORMAT_BMP, FORMAT_BMP},       {"a.pct", FORMAT_PCT, FORMAT_PCT},
      {"a.pc", FORMAT_PCT, FORMAT_PCT},      {"a.xyz", FORMAT_NONE, FORMAT_NONE},
      {"a.jpegs", FORMAT_NONE, FORMAT_NONE}, {"a.jpgx", FORMAT_NONE, FORMAT_NONE},
      {"dir.old/pic", FORMAT_NONE, FORMAT_NONE}, {"picture", FORMAT_NONE, FORMAT_NONE},
      {".jpg", FORMAT_NONE, FORMAT_NONE},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(image_format_of(c.name, true), c.read) << c.name;
    EXPECT_EQ(image_format_of(c.name, false), c.write) << c.name;
  }
}

// A small gray JPEG written through the dispatcher, to be renamed.
QORImage *test_pattern() {
  QORImage *image = image_create(6, 4, QOR_GRAY);
  for (int i = 0; i < 24; ++i) image->pixels[i] = static_cast<unsigned char>(i * 10);
  return image;
}

TEST(ImageDispatch, JpegReadByAnyCaseAndLeadingPart) {
  qortest::TempDir dir;
  QORImage *image = test_pattern();
  ASSERT_EQ(image_write(dir.file("a.jpg").c_str(), image, 80), Status::ok);
  image_free(image);
  const std::string bytes = qortest::read_file(dir.file("a.jpg"));
  ASSERT_FALSE(bytes.empty());

  for (const char *name : {"b.JPEG", "c.Jpg", "d.jp", "e.", "f.jpeg"}) {
    qortest::write_file(dir.file(name), bytes);
    QORImage *read = image_read(dir.file(name).c_str());
    ASSERT_NE(read, nullptr) << name;
    EXPECT_EQ(read->width, 6);
    EXPECT_EQ(read->height, 4);
    EXPECT_EQ(read->type, QOR_GRAY);
    image_free(read);
  }
  // The same JPEG bytes under names that select no reader, or another one.
  for (const char *name : {"noext", "g.xyz", "h.jpegs"}) {
    qortest::write_file(dir.file(name), bytes);
    EXPECT_EQ(image_read(dir.file(name).c_str()), nullptr) << name;
  }
  // dir.old/pic: the extension ".old/pic" is too long, nothing is read.
  ASSERT_EQ(mkdir(dir.file("dir.old").c_str(), 0755), 0);
  qortest::write_file(dir.file("dir.old/pic"), bytes);
  EXPECT_EQ(image_read(dir.file("dir.old/pic").c_str()), nullptr);
}

TEST(ImageDispatch, NameThatIsOnlyAnExtensionReadsNothing) {
  qortest::TempDir dir;
  QORImage *image = test_pattern();
  ASSERT_EQ(image_write(dir.file("x.jpg").c_str(), image, 80), Status::ok);
  image_free(image);
  qortest::write_file(dir.file(".jpg"), qortest::read_file(dir.file("x.jpg")));
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  QORImage *bare = image_read(".jpg");
  QORImage *named = image_read("x.jpg");
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(bare, nullptr);
  EXPECT_NE(named, nullptr);
  image_free(named);
}

TEST(ImageDispatch, WriteIsCaseSensitiveAndSomeFormatsAreReadOnly) {
  qortest::TempDir dir;
  QORImage *image = test_pattern();
  EXPECT_EQ(image_write(dir.file("a.JPEG").c_str(), image, 80), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("a.JPEG")));
  EXPECT_EQ(image_write(dir.file("x.gif").c_str(), image, 80), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("x.gif")));
  EXPECT_EQ(image_write(dir.file("x.tif").c_str(), image, 80), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("x.tif")));
  EXPECT_EQ(image_write(dir.file("x.tiff").c_str(), image, 80), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("x.tiff")));
  EXPECT_EQ(image_write(dir.file("x.pct").c_str(), image, 80), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("x.pct")));
  EXPECT_EQ(image_write(dir.file("noext").c_str(), image, 80), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("noext")));
  EXPECT_EQ(image_write(dir.file("x.abcdef").c_str(), image, 80), Status::invalid_argument);
  EXPECT_EQ(image_write(dir.file("x.jpeg").c_str(), image, 80), Status::ok);
  EXPECT_TRUE(qortest::file_exists(dir.file("x.jpeg")));
  image_free(image);
}

}  // namespace
