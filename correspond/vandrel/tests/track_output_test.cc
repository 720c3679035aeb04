#include "track_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_util.h"
#include "console_report.h"
#include "options.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A chain starting at sequence position `first` with the given points, each
// observed once unless sums and counts are changed afterwards.
Chain make_chain(long long first, std::vector<ImagePoint> points) {
  Chain c;
  c.firstPosition = first;
  c.open = false;
  c.extended = false;
  for (const ImagePoint &p : points) c.points.push_back(ChainPoint{p, p, 1});
  return c;
}

std::vector<ImagePoint> row(int n, double y) {
  std::vector<ImagePoint> v;
  for (int i = 0; i < n; ++i) v.push_back(ImagePoint{10.0 * i + 0.25, y});
  return v;
}

TEST(VandrelNextDivisor, HalvesAboveFiveThenCountsDown) {
  std::vector<int> seq;
  for (int d = 16; d >= 1; d = next_divisor(d)) seq.push_back(d);
  EXPECT_EQ(seq, (std::vector<int>{16, 8, 4, 3, 2, 1}));
  seq.clear();
  for (int d = 7; d >= 1; d = next_divisor(d)) seq.push_back(d);
  EXPECT_EQ(seq, (std::vector<int>{7, 3, 2, 1}));
  EXPECT_EQ(next_divisor(6), 3);
  EXPECT_EQ(next_divisor(5), 4);
  EXPECT_EQ(next_divisor(1), 0);
}

TEST(VandrelDividedFileCount, FollowsTheDivisorsAndCapsAtTwentySix) {
  EXPECT_EQ(divided_file_count(16), 6);
  EXPECT_EQ(divided_file_count(7), 4);
  EXPECT_EQ(divided_file_count(1), 1);
  EXPECT_EQ(divided_file_count(0), 0);
  EXPECT_EQ(divided_file_count(-4), 0);
  // 5 * 2^21 halves 21 times down to 5, then 4, 3, 2, 1: 26 files.
  EXPECT_EQ(divided_file_count(5 << 21), 26);
  EXPECT_EQ(divided_file_count(5 << 22), 27);
  EXPECT_EQ(divided_file_count(2147483647), 32);
}

TEST(VandrelOutputImageNumber, ReverseMirrorsThePositions) {
  TrackSettings s;
  s.startNumber = 0;
  s.endNumber = 9;
  s.imageOffset = 500;
  EXPECT_EQ(output_image_number(s, 1, true), 510);
  EXPECT_EQ(output_image_number(s, 10, true), 501);
  EXPECT_EQ(output_image_number(s, 4, true), 507);
  EXPECT_EQ(output_image_number(s, 1, false), 501);
  s.newNumbers = {0, 10, 12, 14};
  EXPECT_EQ(output_image_number(s, 2, false), 512);
  EXPECT_EQ(output_image_number(s, 9, true), 512);
  EXPECT_EQ(output_image_number(s, 5, false), 505);
}

class VandrelWriteTracks : public testing::Test {
 protected:
  std::string write(int divide_count, const std::string &name = "tracks") {
    ConsolePrinter printer;
    CaptureStdout();
    status = write_tracks(&table, settings, dir.file(name), divide_count, &printer, &failed);
    ok = status == Status::ok;
    return GetCapturedStdout();
  }
  std::string file(const std::string &name) { return qortest::read_file(dir.file(name)); }
  qortest::TempDir dir;
  ChainTable table;
  TrackSettings settings;
  bool ok = false;
  Status status = Status::ok;
  std::string failed;
};

TEST_F(VandrelWriteTracks, ShortChainsAreSkippedWithoutUsingANumber) {
  table.chains.push_back(make_chain(1, row(3, 1)));
  table.chains.push_back(make_chain(2, row(5, 2)));
  table.chains.push_back(make_chain(3, row(4, 3)));
  EXPECT_EQ(write(0), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(file("tracks"),
            "mp 2 1 0.2 2.0\r\nmp 3 1 10.2 2.0\r\nmp 4 1 20.2 2.0\r\nmp 5 1 30.2 2.0\r\n"
            "mp 6 1 40.2 2.0\r\n"
            "mp 3 2 0.2 3.0\r\nmp 4 2 10.2 3.0\r\nmp 5 2 20.2 3.0\r\nmp 6 2 30.2 3.0\r\n");
}

TEST_F(VandrelWriteTracks, ShortFormAveragesOnlyWithoutReverse) {
  Chain c = make_chain(1, {{10.4, 7.75}, {30, 40}, {50, 60}, {70, 80}});
  // 10.4 re-observed once, counted as 10.
  c.points[0].sum = ImagePoint{10.4 + 10, 7.75 + 7};
  c.points[0].count = 2;
  table.chains.push_back(c);
  settings.startNumber = 4;
  settings.endNumber = 7;
  write(0);
  EXPECT_EQ(file("tracks"),
            "mp 1 1 10.2 7.4\r\nmp 2 1 30.0 40.0\r\nmp 3 1 50.0 60.0\r\nmp 4 1 70.0 80.0\r\n");
  settings.reverse = true;
  write(0);
  EXPECT_EQ(file("tracks"),
            "mp 4 1 10.4 7.8\r\nmp 3 1 30.0 40.0\r\nmp 2 1 50.0 60.0\r\nmp 1 1 70.0 80.0\r\n");
  settings.longForm = true;
  settings.reverse = false;
  write(0);
  EXPECT_EQ(file("tracks"),
            "mp 1 1 10.400000 7.750000\r\nmp 2 1 30.000000 40.000000\r\n"
            "mp 3 1 50.000000 60.000000\r\nmp 4 1 70.000000 80.000000\r\n");
}

TEST_F(VandrelWriteTracks, DivideCountSixteenSendsEachImageToItsFile) {
  // Positions 1..6 renumbered to 48, 40, 12, 9, 10, 7.
  settings.newNumbers = {0, 48, 40, 12, 9, 10, 7};
  settings.minimumChainLength = 3;
  table.chains.push_back(make_chain(1, row(6, 1)));
  table.chains.push_back(make_chain(1, row(2, 9)));  // too short, not written
  table.chains.push_back(make_chain(4, row(3, 2)));
  table.chains[0].points[0].sum = ImagePoint{99, 99};  // divided output never averages
  std::string tracks = dir.file("tracks");
  EXPECT_EQ(write(16), "Opening filename " + tracks + "-a\nOpening filename " + tracks +
                           "-b\nOpening filename " + tracks + "-c\nOpening filename " + tracks +
                           "-d\nOpening filename " + tracks + "-e\nOpening filename " + tracks +
                           "-f\n");
  EXPECT_TRUE(ok);
  EXPECT_EQ(file("tracks-a"), "mp 48 1 0.2 1.0\r\n");
  EXPECT_EQ(file("tracks-b"), "mp 40 1 10.2 1.0\r\n");
  EXPECT_EQ(file("tracks-c"), "mp 12 1 20.2 1.0\r\n");
  EXPECT_EQ(file("tracks-d"), "mp 9 1 30.2 1.0\r\nmp 9 2 0.2 2.0\r\n");
  EXPECT_EQ(file("tracks-e"), "mp 10 1 40.2 1.0\r\nmp 10 2 10.2 2.0\r\n");
  EXPECT_EQ(file("tracks-f"), "mp 7 1 50.2 1.0\r\nmp 7 2 20.2 2.0\r\n");
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks")));
  EXPECT_EQ(table.chains[0].outputNumber, 1);
  EXPECT_EQ(table.chains[1].outputNumber, 0);
  EXPECT_EQ(table.chains[2].outputNumber, 2);
}

TEST_F(VandrelWriteTracks, DividedLongFormAndImagesSharingANumber) {
  // Two positions with the same image number go to the same file; negative
  // numbers and numbers beyond 199 work too.
  settings.newNumbers = {0, 6, 6, -9, 1001};
  settings.longForm = true;
  table.chains.push_back(make_chain(1, row(4, 1)));
  write(3);
  EXPECT_EQ(file("tracks-a"),
            "mp 6 1 0.250000 1.000000\r\nmp 6 1 10.250000 1.000000\r\nmp -9 1 20.250000 1.000000\r\n");
  EXPECT_EQ(file("tracks-b"), "");
  EXPECT_EQ(file("tracks-c"), "mp 1001 1 30.250000 1.000000\r\n");
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks-d")));
}

TEST_F(VandrelWriteTracks, NegativeDivideCountNumbersChainsButWritesNothing) {
  table.chains.push_back(make_chain(1, row(3, 1)));
  table.chains.push_back(make_chain(1, row(4, 1)));
  EXPECT_EQ(write(-2), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(table.chains[1].outputNumber, 1);
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks")));
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks-a")));
}

TEST_F(VandrelWriteTracks, UnopenableFileIsReported) {
  table.chains.push_back(make_chain(1, row(4, 1)));
  EXPECT_EQ(write(0, "no/such/dir"), "");
  EXPECT_EQ(status, Status::cannot_open);
  std::string name = dir.file("no/such/dir");
  EXPECT_EQ(failed, name);
  EXPECT_EQ(write(2, "no/such/dir"), "Opening filename " + name + "-a\n");
  EXPECT_EQ(status, Status::cannot_open);
  EXPECT_EQ(failed, name + "-a");
}

TEST_F(VandrelWriteTracks, FullDeviceIsACannotWriteAndLeavesNoFile) {
  if (!qortest::file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (int k = 0; k < 3000; ++k) table.chains.push_back(make_chain(1, row(4, k)));
  ASSERT_EQ(symlink("/dev/full", dir.file("tracks-b").c_str()), 0);
  write(2);
  EXPECT_EQ(status, Status::cannot_write);
  EXPECT_EQ(failed, dir.file("tracks-b"));
  EXPECT_TRUE(qortest::file_exists(dir.file("tracks-a")));  // written before stays
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks-b")));
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks-c")));
}

TEST_F(VandrelWriteTracks, TooManyDividedFilesAreRefused) {
  table.chains.push_back(make_chain(1, row(4, 1)));
  write(1 << 30);
  EXPECT_EQ(status, Status::invalid_argument);
  EXPECT_FALSE(qortest::file_exists(dir.file("tracks-a")));
}

TEST_F(VandrelWriteTracks, EmptyTableWritesAnEmptyFile) {
  write(0);
  EXPECT_TRUE(ok);
  bool exists = false;
  EXPECT_EQ(qortest::read_file(dir.file("tracks"), &exists), "");
  EXPECT_TRUE(exists);
}

}  // namespace
