#include "pnm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cli_util.h"
#include "formats.h"
#include "image_test_util.h"
#include "qorimage.h"

namespace {

using qortest::read_file;
using qortest::TempDir;
using qortest::write_file;

// Reads `bytes` stored under `name` through `reader`, keeping the text it
// gives for the standard output; it must give none for standard error and
// print nothing itself.
template <typename Reader>
ImagePtr read_bytes(const TempDir &dir, const std::string &bytes, Reader reader,
                    std::string *printed = nullptr, const std::string &name = "in.pnm") {
  write_file(dir.file(name), bytes);
  ImageMessages messages;
  testing::internal::CaptureStdout();
  ImagePtr image(reader(dir.file(name).c_str(), &messages));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(messages.err, "");
  if (printed) *printed = messages.out;
  return image;
}

ImagePtr make_image(int width, int height, int type, unsigned seed) {
  ImagePtr image(image_create(width, height, type));
  size_t n = static_cast<size_t>(width) * height * image->bytes_per_pixel;
  for (size_t i = 0; i < n; ++i) image->pixels[i] = static_cast<unsigned char>((i * 37 + seed) % 256);
  return image;
}

// Files written by ImageMagick (with a comment line) and by netpbm, in all
// four forms, decode to the pixels ImageMagick reports for them.
TEST(PnmRead, MatchesIndependentTools) {
  const std::string data = QOR_TEST_DATA "/pnm/";
  for (const char *stem : {"im_p2", "nb_p2", "im_p5", "nb_p5"}) {
    SCOPED_TRACE(stem);
    ImagePtr image(read_pnm((data + stem + ".pgm").c_str()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 5);
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(image->type, QOR_GRAY);
    EXPECT_EQ(pixels_of(image.get()), read_file(data + stem + ".gray"));
  }
  for (const char *stem : {"im_p3", "nb_p3", "im_p6", "nb_p6"}) {
    SCOPED_TRACE(stem);
    ImagePtr image(read_pnm((data + stem + ".ppm").c_str()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 5);
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(image->type, QOR_RGB);
    EXPECT_EQ(image->bytes_per_pixel, 3);
    EXPECT_EQ(pixels_of(image.get()), read_file(data + stem + ".rgb"));
  }
}

TEST(PnmRead, AsciiHeaderLineAndComments) {
  TempDir dir;
  // Samples on the header line are dropped: the six samples follow it.
  ImagePtr image = read_bytes(dir, "P2 3 2 255 9 9 9\n1 2 3\n4 5\n6\n", read_pnm);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), std::string("\1\2\3\4\5\6"));

  // With only the three of the header line, the data runs out.
  std::string printed;
  image = read_bytes(dir, "P2 3 1 255 7 8 9\n", read_pnm, &printed);
  EXPECT_FALSE(image);
  EXPECT_EQ(printed, "\nPGMA_READ_DATA: Fatal error.\n  End of input.\n");

  // A '#' line in the header is skipped; among the samples it is a token
  // that is no number, so the last value is stored again.
  image = read_bytes(dir, "P2\n# made by hand\n3 1\n# 99\n255\n5\n# 7\n", read_pnm);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), std::string("\5\5\7"));

  // Whitespace and comments before the magic number are passed over by the
  // dispatch.
  image = read_bytes(dir, "\n# x\n  P3 1 1 255\n1 2 3\n", read_pnm);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->type, QOR_RGB);
  EXPECT_EQ(pixels_of(image.get()), std::string("\1\2\3"));
}

TEST(PnmRead, SamplesKeepTheirLowByte) {
  TempDir dir;
  ImagePtr image = read_bytes(dir, "P2\n6 1\n255\n300 256 -1 511 +65 99999999999999999999\n",
                              read_pnm);
  ASSERT_TRUE(image);
  // 99999999999999999999 = 390625000000000000 * 256 + 255.
  EXPECT_EQ(pixels_of(image.get()), std::string("\x2c\x00\xff\xff\x41\xff", 6));
}

TEST(PnmRead, BinaryGrayHeader) {
  TempDir dir;
  const std::string bytes("\x0a\x20\xff\x00", 4);
  // One blank, or one newline, ends the maximum value; the samples follow.
  for (const char *header : {"P5 2 2 255 ", "P5\n2 2\n255\n", "P5 #c\n2\t2 255#x\n"}) {
    SCOPED_TRACE(header);
    ImagePtr image = read_bytes(dir, header + bytes, read_pnm);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, QOR_GRAY);
    EXPECT_EQ(pixels_of(image.get()), bytes);
  }
  // The header reader itself takes the lower-case magic number; the dispatch
  // does not.
  ImagePtr image = read_bytes(dir, "p5 2 2 255 " + bytes, pgmb_read);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), bytes);
  EXPECT_FALSE(read_bytes(dir, "p5 2 2 255 " + bytes, read_pnm));
}

TEST(PnmRead, BinaryGrayHeaderFaults) {
  TempDir dir;
  std::string printed;
  EXPECT_FALSE(read_bytes(dir, "P5x 1 1 255 a", pgmb_read, &printed));
  EXPECT_EQ(printed, "\nPGMB_READ_HEADER: Fatal error.\n  Bad magic number = P5x.\n");
  // Silent failures: leading whitespace, a header cut short, 0xFF in the
  // header, a token longer than 79 characters.
  for (const std::string &bad :
       {std::string(" P5 1 1 255 a"), std::string("P5 1 1 255"), std::string("P5 1 1 2\xff" "5 a"),
        std::string("P5 1 1 ") + std::string(80, '0') + "255 a", std::string("# c\nP5 1 1 255 a")}) {
    EXPECT_FALSE(read_bytes(dir, bad, pgmb_read, &printed));
    EXPECT_EQ(printed, "");
  }
  // 79 characters are still a token.
  ImagePtr image = read_bytes(dir, "P5 1 1 " + std::string(76, '0') + "255 a", pgmb_read);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), "a");
}

TEST(PnmRead, BinaryColourSamplesFollowTheHeaderLine) {
  TempDir dir;
  std::string printed;
  // The maximum value's whole line belongs to the header, so six samples on
  // it leave none for the data.
  EXPECT_FALSE(read_bytes(dir, std::string("P6 2 1 255 ") + "\1\2\3\4\5\6", read_pnm, &printed));
  EXPECT_EQ(printed, "PPMB_READ_DATA: Failed reading data byte 0.\n");
  // A newline byte among them ends the line; the three bytes after it are
  // read and the fourth is missing.
  EXPECT_FALSE(read_bytes(dir, std::string("P6 2 1 255 ") + "\1\2\n\4\5\6", read_pnm, &printed));
  EXPECT_EQ(printed, "PPMB_READ_DATA: Failed reading data byte 3.\n");

  ImagePtr image = read_bytes(dir, "P6\n# c\n2 1 255 junk\n\1\2\3\4\5\6", read_pnm);
  ASSERT_TRUE(image);
  EXPECT_EQ(pixels_of(image.get()), "\1\2\3\4\5\6");
}

TEST(PnmRead, HeaderMessages) {
  TempDir dir;
  std::string printed;
  EXPECT_FALSE(read_bytes(dir, "P2x 1 1 255\n0\n", read_pnm, &printed));
  EXPECT_EQ(printed, "\nPGMA_READ_HEADER: Fatal error.\n  Bad magic number = P2x.\n");
  EXPECT_FALSE(read_bytes(dir, "P3\n2\n", read_pnm, &printed));
  EXPECT_EQ(printed, "\nPPMA_READ_HEADER: Fatal error.\n  End of input.\n");
  EXPECT_FALSE(read_bytes(dir, "P6\n# only a comment\n", read_pnm, &printed));
  EXPECT_EQ(printed, "\nPPMB_READ_HEADER: Fatal error.\n  End of input.\n");
  EXPECT_FALSE(read_bytes(dir, "P6y 1 1 255\nabc", ppmb_read, &printed));
  EXPECT_EQ(printed, "\nPPMB_READ_HEADER: Fatal error.\n  Bad magic number = P6y.\n");
  EXPECT_FALSE(read_bytes(dir, "P3 1 1 255\n1 2\n", read_pnm, &printed));
  EXPECT_EQ(printed, "\nPPMA_READ_DATA: Fatal error.\n  End of input.\n");
  // Magic numbers the dispatch does not take, and files without any.
  for (const char *bad : {"P1 1 1\n0\n", "P4 1 1\n\0", "P 1 1 255\n0\n", "p2 1 1 255\n0\n", "", "  \n# c"}) {
    EXPECT_FALSE(read_bytes(dir, bad, read_pnm, &printed));
    EXPECT_EQ(printed, "");
  }
  EXPECT_FALSE(read_pnm((dir.path() + "/missing.pgm").c_str()));
}

// A header that promises more than the file holds is refused before the
// pixel block is allocated, with the message running out of data gives.
TEST(PnmRead, OversizedHeaders) {
  TempDir dir;
  std::string printed;
  EXPECT_FALSE(read_bytes(dir, "P5 40000 40000 255\nabc", read_pnm, &printed));
  EXPECT_EQ(printed, "PGMB_READ_DATA: Failed reading data byte 3.\n");
  EXPECT_FALSE(read_bytes(dir, "P6\n30000 20000\n255\nabcd", read_pnm, &printed));
  EXPECT_EQ(printed, "PPMB_READ_DATA: Failed reading data byte 4.\n");
  EXPECT_FALSE(read_bytes(dir, "P2 40000 40000 255\n1 2 3\n", read_pnm, &printed));
  EXPECT_EQ(printed, "\nPGMA_READ_DATA: Fatal error.\n  End of input.\n");
  // Sizes no image can have, and header fields that are no numbers.
  for (const char *bad : {"P5 70000 70000 255\n", "P3 -1 1 255\n1 2 3\n",
                          "P2 99999999999 1 255\n1\n", "P2 x 1 255\n1\n", "P5 1 y 255 a"}) {
    EXPECT_FALSE(read_bytes(dir, bad, read_pnm, &printed));
    EXPECT_EQ(printed, "");
  }
}

TEST(PnmWrite, AsciiLineLayout) {
  TempDir dir;
  ImagePtr gray(image_create(12, 1, QOR_GRAY));
  for (int i = 0; i < 12; ++i) gray->pixels[i] = static_cast<unsigned char>(i * 20);
  std::string name = dir.file("g.pgm");
  ASSERT_EQ(pgma_write(name.c_str(), gray.get()), Status::ok);
  EXPECT_EQ(read_file(name), "P2\n# " + name + "\n12 1\n255\n0 20 40 60 80 100 120 140 160 180\n200 220\n");

  ImagePtr colour(image_create(5, 1, QOR_RGB));
  for (int i = 0; i < 15; ++i) colour->pixels[i] = static_cast<unsigned char>(i);
  name = dir.file("c.ppm");
  ASSERT_EQ(ppma_write(name.c_str(), colour.get()), Status::ok);
  EXPECT_EQ(read_file(name), "P3\n# " + name + "\n5 1\n255\n0 1 2 3 4 5 6 7 8 9 10 11\n12 13 14\n");

  // The count of values runs over the whole image, and every row ends a line.
  gray.reset(image_create(7, 2, QOR_GRAY));
  for (int i = 0; i < 14; ++i) gray->pixels[i] = static_cast<unsigned char>(i);
  ASSERT_EQ(write_pgm("g2.pgm", gray.get(), 0), Status::ok);
  EXPECT_EQ(read_file("g2.pgm"), "P2\n# g2.pgm\n7 2\n255\n0 1 2 3 4 5 6\n7 8 9\n10 11 12 13\n");
  std::remove("g2.pgm");
}

TEST(PnmWrite, BinaryHeaders) {
  TempDir dir;
  ImagePtr colour(image_create(2, 1, QOR_RGB));
  for (int i = 0; i < 6; ++i) colour->pixels[i] = static_cast<unsigned char>(250 + i);
  std::string name = dir.file("c.ppm");
  ASSERT_EQ(write_ppm(name.c_str(), colour.get(), 1), Status::ok);
  EXPECT_EQ(read_file(name), "P6\n2 1\n255\n\xfa\xfb\xfc\xfd\xfe\xff");
  // The gray writer takes the first width x height bytes whatever the type.
  name = dir.file("g.pgm");
  ASSERT_EQ(write_pgm(name.c_str(), colour.get(), 80), Status::ok);
  EXPECT_EQ(read_file(name), "P5 2 1 255 \xfa\xfb");
}

TEST(PnmWrite, RoundTrips) {
  TempDir dir;
  ImagePtr gray = make_image(13, 7, QOR_GRAY, 5);
  ImagePtr colour = make_image(9, 4, QOR_RGB, 11);
  for (int binary : {0, 1}) {
    std::string name = dir.file(binary ? "b.pgm" : "a.pgm");
    ASSERT_EQ(write_pgm(name.c_str(), gray.get(), binary), Status::ok);
    ImagePtr back(read_pnm(name.c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, QOR_GRAY);
    EXPECT_EQ(back->width, 13);
    EXPECT_EQ(back->height, 7);
    EXPECT_EQ(pixels_of(back.get()), pixels_of(gray.get()));

    name = dir.file(binary ? "b.ppm" : "a.ppm");
    ASSERT_EQ(write_ppm(name.c_str(), colour.get(), binary), Status::ok);
    back.reset(read_pnm(name.c_str()));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, QOR_RGB);
    EXPECT_EQ(back->width, 9);
    EXPECT_EQ(back->height, 4);
    EXPECT_EQ(pixels_of(back.get()), pixels_of(colour.get()));
  }
}

TEST(PnmWrite, Failures) {
  TempDir dir;
  ImagePtr gray = make_image(2, 2, QOR_GRAY, 1);
  ImagePtr colour = make_image(2, 2, QOR_RGB, 1);
  const std::string nowhere = dir.path() + "/no/such/dir/x";
  EXPECT_EQ(pgma_write(nowhere.c_str(), gray.get()), Status::cannot_open);
  EXPECT_EQ(pgmb_write(nowhere.c_str(), gray.get()), Status::cannot_open);
  EXPECT_EQ(ppma_write(nowhere.c_str(), colour.get()), Status::cannot_open);
  EXPECT_EQ(ppmb_write(nowhere.c_str(), colour.get()), Status::cannot_open);
  // A colour writer refuses a one-byte image rather than read past its end.
  EXPECT_EQ(ppmb_write(dir.file("g.ppm").c_str(), gray.get()), Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("g.ppm")));
  // A write that does not reach the device is reported, and the device stays.
  if (qortest::file_exists("/dev/full")) {
    EXPECT_EQ(pgma_write("/dev/full", gray.get()), Status::cannot_write);
    EXPECT_EQ(ppmb_write("/dev/full", colour.get()), Status::cannot_write);
    EXPECT_TRUE(qortest::file_exists("/dev/full"));
  }
  // A failed write keeps the earlier file whole.
  const std::string earlier = dir.file("earlier.pgm");
  ASSERT_EQ(pgmb_write(earlier.c_str(), gray.get()), Status::ok);
  const std::string before = read_file(earlier);
  EXPECT_EQ(ppmb_write(earlier.c_str(), gray.get()), Status::invalid_argument);
  EXPECT_EQ(read_file(earlier), before);
}

}  // namespace
