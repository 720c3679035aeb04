// Annotated images: the supporting matches drawn onto copies of the input
// images, unit by unit and through a whole ostrel run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "annotate.h"
#include "cli_util.h"
#include "qorimage.h"

namespace {

MatchRecord triplet(double x1, double y1, double x2, double y2, double x3, double y3) {
  MatchRecord r;
  r.first = {x1, y1, 0};
  r.middle = {x2, y2, 0};
  r.last = {x3, y3, 0};
  return r;
}

const unsigned char *pixel(const QORImage *image, int x, int y) {
  return image->pixels + (static_cast<size_t>(y) * image->width + x) * image->bytes_per_pixel;
}

bool bluish(const QORImage *image, int x, int y) {
  const unsigned char *p = pixel(image, x, y);
  return p[2] > 140 && p[0] < 100;
}

// A blue RGB image written losslessly, so only the annotation's own JPEG
// encoding blurs the result.
std::string write_blue_png(const qortest::TempDir &dir, int width, int height) {
  QORImage *image = image_create(width, height, QOR_RGB);
  for (int i = 0; i < width * height; ++i) {
    image->pixels[3 * i] = 0;
    image->pixels[3 * i + 1] = 0;
    image->pixels[3 * i + 2] = 200;
  }
  const std::string name = dir.file("a.png");
  EXPECT_EQ(image_write(name.c_str(), image, 0), Status::ok);
  image_free(image);
  return name;
}

}  // namespace

TEST(Annotate, DrawsSupportedMatchesOnlyWhereTheyBelong) {
  qortest::TempDir dir;
  const std::string in = write_blue_png(dir, 48, 36);
  std::vector<MatchRecord> m = {
      triplet(5.7, 5.2, 30.9, 20.1, 0, 0),   // supported: (5,5) -> (30,20)
      triplet(5, 30, 40, 30, 0, 0),          // not supported
      triplet(10, 10, 60.0, 10, 0, 0),       // supported, but ends outside
      triplet(-1, -1, -1, -1, 1, 1)};        // supported, absent positions
  const int32_t support[] = {1, 0, 1, 1};
  ASSERT_EQ(write_annotated_image(in.c_str(), "b.png", m.data(), 4, support, &MatchRecord::first,
                                  &MatchRecord::middle),
            1);
  // Only the first match is drawn: the same drawing made by hand and
  // written the same way gives the same file, byte for byte.
  QORImage *expected = image_read(in.c_str());
  ASSERT_NE(expected, nullptr);
  const ImageColour red = {{255, 0, 0}};
  image_draw_line(expected, 5, 5, 30, 20, red);
  image_draw_mark(expected, 30, 20, 2, red);
  ASSERT_EQ(image_write(dir.file("expected.jpg").c_str(), expected, 80), Status::ok);
  image_free(expected);
  EXPECT_EQ(qortest::read_file(dir.file("a.png-b.png.matches.TM.jpg")),
            qortest::read_file(dir.file("expected.jpg")));

  QORImage *out = image_read(dir.file("a.png-b.png.matches.TM.jpg").c_str());
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->width, 48);
  EXPECT_EQ(out->height, 36);
  EXPECT_EQ(out->type, QOR_RGB);
  // The unsupported match and the one ending outside leave the image blue.
  EXPECT_TRUE(bluish(out, 22, 30));
  EXPECT_TRUE(bluish(out, 40, 10));
  image_free(out);
}

TEST(Annotate, UnreadableImageIsReportedAndSkipped) {
  qortest::TempDir dir;
  std::vector<MatchRecord> m = {triplet(1, 1, 2, 2, 3, 3)};
  const int32_t support[] = {1};
  const std::string missing = dir.file("missing.jpg");
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_annotated_image(missing.c_str(), "b.jpg", m.data(), 1, support,
                                  &MatchRecord::first, &MatchRecord::middle),
            0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Cannot read image " + missing + ": no annotated copy written\n"),
            std::string::npos);
  EXPECT_FALSE(qortest::file_exists(missing + "-b.jpg.matches.TM.jpg"));
}

TEST(Annotate, MissingPartnerNameLeavesThatPartEmpty) {
  qortest::TempDir dir;
  const std::string in = write_blue_png(dir, 8, 8);
  std::vector<MatchRecord> m = {triplet(1, 1, 6, 6, 3, 3)};
  const int32_t support[] = {1};
  EXPECT_EQ(write_annotated_image(in.c_str(), nullptr, m.data(), 1, support, &MatchRecord::first,
                                  &MatchRecord::middle),
            1);
  EXPECT_TRUE(qortest::file_exists(dir.file("a.png-.matches.TM.jpg")));
}

// A whole run on the example scene: both annotated images are written, the
// third image is only a name, and every supporting triplet is marked at its
// end point.
TEST(Annotate, OstrelRunDrawsTheSupportOnBothImages) {
  qortest::TempDir dir;
  const std::string scene = std::string(QOR_TEST_DATA) + "/../../../examples/scene/";
  for (const char *f : {"view1.jpg", "view2.jpg", "triplets.txt"})
    qortest::write_file(dir.file(f), qortest::read_file(scene + f));
  qortest::RunResult r = qortest::run_program(
      qortest::program_path("ostrel"),
      {"-f", "triplets.txt", "-d", "2", "-n", "200", "-i", "view1.jpg", "-j", "view2.jpg", "-k",
       "view3.jpg"},
      dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  QORImage *one = image_read(dir.file("view1.jpg-view2.jpg.matches.TM.jpg").c_str());
  QORImage *two = image_read(dir.file("view2.jpg-view3.jpg.matches.TM.jpg").c_str());
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(one->width, 480);
  EXPECT_EQ(two->height, 360);
  image_free(one);
  image_free(two);
  // Redraw the supporting triplets of the support file by hand onto the
  // inputs: the program's images are the same files.
  QORImage *first = image_read(dir.file("view1.jpg").c_str());
  QORImage *second = image_read(dir.file("view2.jpg").c_str());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const ImageColour red = {{255, 0, 0}};
  std::istringstream support(qortest::read_file(dir.file("triplets.txt.TM.matches")));
  double x1, y1, x2, y2, x3, y3;
  int total = 0;
  while (support >> x1 >> y1 >> x2 >> y2 >> x3 >> y3) {
    ++total;
    image_draw_line(first, static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2),
                    static_cast<int>(y2), red);
    image_draw_mark(first, static_cast<int>(x2), static_cast<int>(y2), 2, red);
    image_draw_line(second, static_cast<int>(x2), static_cast<int>(y2), static_cast<int>(x3),
                    static_cast<int>(y3), red);
    image_draw_mark(second, static_cast<int>(x3), static_cast<int>(y3), 2, red);
  }
  ASSERT_GT(total, 50);
  ASSERT_EQ(image_write(dir.file("expected1.jpg").c_str(), first, 80), Status::ok);
  ASSERT_EQ(image_write(dir.file("expected2.jpg").c_str(), second, 80), Status::ok);
  image_free(first);
  image_free(second);
  EXPECT_EQ(qortest::read_file(dir.file("view1.jpg-view2.jpg.matches.TM.jpg")),
            qortest::read_file(dir.file("expected1.jpg")));
  EXPECT_EQ(qortest::read_file(dir.file("view2.jpg-view3.jpg.matches.TM.jpg")),
            qortest::read_file(dir.file("expected2.jpg")));
}

// An annotated image that cannot be written fails the run instead of ending
// it with status 0.
TEST(Annotate, UnwritableImageFailsTheRun) {
  qortest::TempDir dir;
  const std::string scene = std::string(QOR_TEST_DATA) + "/../../../examples/scene/";
  qortest::write_file(dir.file("triplets.txt"), qortest::read_file(scene + "triplets.txt"));
  qortest::write_file(dir.file("view1.jpg"), qortest::read_file(scene + "view1.jpg"));
  // The output name puts the image into a folder that does not exist.
  qortest::RunResult r = qortest::run_program(
      qortest::program_path("ostrel"),
      {"-f", "triplets.txt", "-n", "20", "-i", "view1.jpg", "-j", "no/such/folder"}, dir.path());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("can't open view1.jpg-no/such/folder.matches.TM.jpg\n"), std::string::npos)
      << r.err;
  EXPECT_TRUE(qortest::file_exists(dir.file("triplets.txt.TM")));
  EXPECT_TRUE(qortest::file_exists(dir.file("triplets.txt.TM.matches")));
}
