// Tests of the match-file reader and writers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "cli_util.h"
#include "matchio.h"

namespace {

using qortest::TempDir;

// Reads `text` as a match file; returns the records, the status and the
// line count.
struct ReadResult {
  int count = 0;
  std::vector<MatchRecord> records;
  Status status = Status::ok;
  int lines = -2;
  std::string out;  // anything printed (nothing is)
};

ReadResult read_text(const std::string &text) {
  TempDir dir;
  const std::string path = dir.file("m.txt");
  qortest::write_file(path, text);
  ReadResult result;
  result.records.resize(3);  // the reader must replace what was there
  testing::internal::CaptureStdout();
  result.status = read_matches(path.c_str(), &result.records, &result.lines);
  result.out = testing::internal::GetCapturedStdout();
  result.count = static_cast<int>(result.records.size());
  return result;
}

void expect_point(const MatchPoint &p, double x, double y, int32_t index) {
  EXPECT_EQ(p.x, x);
  EXPECT_EQ(p.y, y);
  EXPECT_EQ(p.index, index);
}

void expect_absent(const MatchPoint &p) {
  EXPECT_TRUE(point_absent(p)) << p.x << " " << p.y;
}

// Writes `records` with all flags set and returns the support file's bytes.
std::string written_back(const std::vector<MatchRecord> &records) {
  TempDir dir;
  std::vector<int32_t> flags(records.size(), 1);
  EXPECT_EQ(write_support_matches(records.data(), static_cast<int>(records.size()), flags.data(),
                                  dir.file("s.matches")),
            Status::ok);
  return qortest::read_file(dir.file("s.matches"));
}

TEST(ReadMatches, NumbersDistinctPositionsPerImage) {
  ReadResult r = read_text("1 2 3 4 5 6\n1 2 7 8 5 6\n9 9 3 4 0 0\n");
  ASSERT_EQ(r.count, 3);
  EXPECT_EQ(r.status, Status::ok);
  EXPECT_EQ(r.lines, 3);
  EXPECT_EQ(r.out, "");
  expect_point(r.records[0].first, 1, 2, 0);
  expect_point(r.records[1].first, 1, 2, 0);
  expect_point(r.records[2].first, 9, 9, 1);
  expect_point(r.records[0].middle, 3, 4, 0);
  expect_point(r.records[1].middle, 7, 8, 1);
  expect_point(r.records[2].middle, 3, 4, 0);
  expect_point(r.records[0].last, 5, 6, 0);
  expect_point(r.records[1].last, 5, 6, 0);
  expect_point(r.records[2].last, 0, 0, 1);
}

TEST(ReadMatches, PairLinesAndFiveNumberLines) {
  ReadResult r = read_text("10 20 30 40\n1 2 3 4 99\n");
  ASSERT_EQ(r.count, 2);
  expect_point(r.records[0].first, 10, 20, 0);
  expect_point(r.records[0].last, 30, 40, 0);
  expect_absent(r.records[0].middle);
  // The fifth number is ignored: still a pair.
  expect_point(r.records[1].first, 1, 2, 1);
  expect_point(r.records[1].last, 3, 4, 1);
  expect_absent(r.records[1].middle);
  EXPECT_EQ(written_back(r.records),
            "10.000000 20.000000 30.000000 40.000000\n1.000000 2.000000 3.000000 4.000000\n");
}

TEST(ReadMatches, BlankLinesReusePreviousValues) {
  // A blank line after a triplet is a pair of the triplet's first and last
  // positions; a blank line in the middle and a final blank line count too.
  ReadResult r = read_text("1 2 3 4 5 6\n\n7 8 9 10\n\n");
  ASSERT_EQ(r.count, 4);
  EXPECT_EQ(r.status, Status::ok);
  EXPECT_EQ(r.lines, 4);
  EXPECT_EQ(r.out, "");
  expect_point(r.records[1].first, 1, 2, 0);
  expect_point(r.records[1].last, 5, 6, 0);
  expect_absent(r.records[1].middle);
  expect_point(r.records[2].first, 7, 8, 1);
  expect_point(r.records[2].last, 9, 10, 1);
  expect_point(r.records[3].first, 7, 8, 1);
  expect_point(r.records[3].last, 9, 10, 1);
  expect_absent(r.records[3].middle);
  // A line with only white space (or a carriage return) is blank as well.
  ReadResult w = read_text("1 2 3 4\n \t\r\n");
  ASSERT_EQ(w.count, 2);
  expect_point(w.records[1].first, 1, 2, 0);
  expect_point(w.records[1].last, 3, 4, 0);
}

TEST(ReadMatches, ShortLinesKeepEarlierValues) {
  // The first line has no earlier line: missing values are 0.
  ReadResult r = read_text("7\n");
  ASSERT_EQ(r.count, 1);
  expect_point(r.records[0].first, 7, 0, 0);
  expect_point(r.records[0].last, 0, 0, 0);
  expect_absent(r.records[0].middle);

  ReadResult b = read_text("\n");
  ASSERT_EQ(b.count, 1);
  expect_point(b.records[0].first, 0, 0, 0);
  expect_point(b.records[0].last, 0, 0, 0);

  // After a triplet, working values 3 and 4 hold the triplet's last position;
  // a three-number line replaces values 1 to 3 only.
  ReadResult s = read_text("1 2 3 4 5 6\n7 8 9\n");
  ASSERT_EQ(s.count, 2);
  expect_point(s.records[1].first, 7, 8, 1);
  expect_point(s.records[1].last, 9, 6, 1);
  expect_absent(s.records[1].middle);
}

TEST(ReadMatches, TextInLinesStopsTheScan) {
  // The scan stops at the first word that is not a number; the values after
  // it keep those of the line before (0 on the first line).
  ReadResult r = read_text("1 2 abc 4\n5 6 7 8 9 10\n11 12 x 1 1 1 1\n1,2,3,4\n");
  ASSERT_EQ(r.count, 4);
  expect_point(r.records[0].first, 1, 2, 0);
  expect_point(r.records[0].last, 0, 0, 0);
  expect_absent(r.records[0].middle);
  expect_point(r.records[1].middle, 7, 8, 0);
  expect_point(r.records[1].last, 9, 10, 1);
  expect_point(r.records[2].first, 11, 12, 2);
  expect_point(r.records[2].last, 9, 10, 1);
  expect_absent(r.records[2].middle);
  expect_point(r.records[3].first, 1, 12, 3);
}

TEST(ReadMatches, NanAndInfinityAreNumbers) {
  ReadResult r = read_text("nan 1 2 3 4 5\nnan 1 2 3 4 5\ninf -inf 7 7\ninf -inf 7 7\n");
  ASSERT_EQ(r.count, 4);
  EXPECT_TRUE(std::isnan(r.records[0].first.x));
  EXPECT_EQ(r.records[0].middle.x, 2);
  // NaN equals nothing, so each NaN position is new; infinities compare equal.
  EXPECT_EQ(r.records[0].first.index, 0);
  EXPECT_EQ(r.records[1].first.index, 1);
  EXPECT_EQ(r.records[1].middle.index, 0);
  EXPECT_EQ(r.records[1].last.index, 0);
  expect_point(r.records[2].first, INFINITY, -INFINITY, 2);
  expect_point(r.records[3].first, INFINITY, -INFINITY, 2);
}

TEST(ReadMatches, SignedZeroAndMinusOneCoordinates) {
  // -0.0 equals 0.0. A position with a coordinate of -1.0 is never searched,
  // so it always takes a new number.
  ReadResult r = read_text("-0 0 1 1\n0 -0 1 1\n-1 5 1 1\n-1 5 1 1\n");
  ASSERT_EQ(r.count, 4);
  EXPECT_EQ(r.records[0].first.index, 0);
  EXPECT_EQ(r.records[1].first.index, 0);
  EXPECT_EQ(r.records[2].first.index, 1);
  EXPECT_EQ(r.records[3].first.index, 2);
  for (const MatchRecord &m : r.records) EXPECT_EQ(m.last.index, 0);
}

TEST(ReadMatches, MiddleOfMinusOnesIsWrittenAsPair) {
  ReadResult r = read_text("1 2 -1 -1 5 6\n");
  ASSERT_EQ(r.count, 1);
  expect_point(r.records[0].middle, -1, -1, 0);
  EXPECT_EQ(written_back(r.records), "1.000000 2.000000 5.000000 6.000000\n");
}

TEST(ReadMatches, LongLinesAreOneRecord) {
  // A triplet printed with many decimals, longer than any small line buffer.
  std::string digits(150, '3');
  std::string line = "1." + digits + " 2." + digits + " 3." + digits + " 4." + digits + " 5." +
                     digits + " 6." + digits + "\n";
  std::string padded = std::string(5000, ' ') + "7 8 9 10" + std::string(5000, ' ') + "\n";
  ReadResult r = read_text(line + padded);
  ASSERT_EQ(r.count, 2);
  EXPECT_EQ(r.status, Status::ok);
  EXPECT_EQ(r.lines, 2);
  EXPECT_EQ(r.out, "");
  expect_point(r.records[0].first, 1.0 + 1.0 / 3, 2.0 + 1.0 / 3, 0);
  expect_point(r.records[0].middle, 3.0 + 1.0 / 3, 4.0 + 1.0 / 3, 0);
  expect_point(r.records[0].last, 5.0 + 1.0 / 3, 6.0 + 1.0 / 3, 0);
  expect_point(r.records[1].first, 7, 8, 1);
  expect_point(r.records[1].last, 9, 10, 1);
  expect_absent(r.records[1].middle);
}

TEST(ReadMatches, LineEndings) {
  // No newline after the last line; carriage returns are white space.
  ReadResult r = read_text("1 2 3 4 5 6\r\n7 8 9 10");
  ASSERT_EQ(r.count, 2);
  expect_point(r.records[0].middle, 3, 4, 0);
  expect_point(r.records[0].last, 5, 6, 0);
  expect_point(r.records[1].last, 9, 10, 1);
}

TEST(ReadMatches, UnreadableAndEmptyFiles) {
  std::vector<MatchRecord> records(2);
  int lines = 5;
  testing::internal::CaptureStdout();
  EXPECT_EQ(read_matches("/nonexistent/dir/m.txt", &records, &lines), Status::cannot_open);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(lines, -1);
  EXPECT_TRUE(records.empty());

  ReadResult e = read_text("");
  EXPECT_EQ(e.status, Status::empty_input);
  EXPECT_EQ(e.lines, 0);
  EXPECT_EQ(e.count, 0);
  EXPECT_EQ(e.out, "");
}

// Random lines over a small set of values (so that positions repeat), with
// -0.0, -1.0 and NaN among them, and pairs, triplets, short and blank lines.
std::string random_match_text(unsigned seed, int lines) {
  std::mt19937 gen(seed);
  const char *values[] = {"0", "-0", "1", "2", "2.5", "-1", "nan", "3", "1e300", "-inf"};
  std::uniform_int_distribution<int> value(0, 9);
  std::uniform_int_distribution<int> shape(0, 9);
  std::string text;
  for (int i = 0; i < lines; ++i) {
    int s = shape(gen);
    int n = s < 5 ? 6 : s < 8 ? 4 : s == 8 ? 3 : 0;
    for (int k = 0; k < n; ++k) {
      if (k) text += ' ';
      text += values[value(gen)];
    }
    text += '\n';
  }
  return text;
}

TEST(ReadMatches, HashNumberingEqualsLinearSearch) {
  for (unsigned seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ReadResult r = read_text(random_match_text(seed, 3000));
    ASSERT_EQ(r.count, 3000);
    // Renumber with the linear search over the earlier records.
    std::vector<MatchRecord> &m = r.records;
    int32_t first_counter = 0, middle_counter = 0, last_counter = 0;
    for (int i = 0; i < r.count; ++i) {
      MatchRecord &rec = m[i];
      if (!point_absent(rec.middle)) {
        int32_t k = find_point_index(m.data(), i, -1, -1, rec.middle.x, rec.middle.y, -1, -1);
        EXPECT_EQ(rec.middle.index, k < 0 ? middle_counter++ : k) << "record " << i;
      } else if (rec.middle.index != -1) {
        // A triplet whose middle was (-1, -1): numbered, never searched.
        EXPECT_EQ(rec.middle.index, middle_counter++) << "record " << i;
      }
      int32_t k = find_point_index(m.data(), i, rec.first.x, rec.first.y, -1, -1, -1, -1);
      EXPECT_EQ(rec.first.index, k < 0 ? first_counter++ : k) << "record " << i;
      k = find_point_index(m.data(), i, -1, -1, -1, -1, rec.last.x, rec.last.y);
      EXPECT_EQ(rec.last.index, k < 0 ? last_counter++ : k) << "record " << i;
    }
  }
}

TEST(FindPointIndex, SearchesOneMemberAtATime) {
  MatchRecord recs[2] = {{{1, 2, 10}, {5, 6, 30}, {3, 4, 20}}, {{5, 6, 11}, {1, 2, 31}, {-1, -1, 21}}};
  EXPECT_EQ(find_point_index(recs, 2, 1, 2, -1, -1, -1, -1), 10);
  EXPECT_EQ(find_point_index(recs, 2, 5, 6, -1, -1, -1, -1), 11);
  EXPECT_EQ(find_point_index(recs, 2, -1, -1, 3, 4, -1, -1), 20);
  EXPECT_EQ(find_point_index(recs, 2, -1, -1, -1, -1, 1, 2), 31);
  // Only records 0..n-1 are searched; a (-1, -1) query searches nothing.
  EXPECT_EQ(find_point_index(recs, 1, -1, -1, -1, -1, 1, 2), -1);
  EXPECT_EQ(find_point_index(recs, 2, -1, -1, -1, -1, -1, -1), -1);
  // -0.0 equals 0.0 and NaN equals nothing.
  MatchRecord z[1] = {{{0.0, NAN, 7}, {-0.0, 1, 8}, {-1, -1, 0}}};
  EXPECT_EQ(find_point_index(z, 1, -1, -1, -1, -1, 0.0, 1), 8);
  EXPECT_EQ(find_point_index(z, 1, 0.0, NAN, -1, -1, -1, -1), -1);
}

std::vector<MatchRecord> sample_records() {
  return {{{1, 2, 0}, {5, 6, 0}, {3, 4, 0}},
          {{10.5, 20.25, 1}, {30, 40, 1}, {-1, -1, -1}},
          {{-7, 8, 2}, {0.125, 1e6, 2}, {9, 9, 1}}};
}

TEST(WriteSupportMatches, WritesFlaggedRecordsSilently) {
  TempDir dir;
  std::vector<MatchRecord> m = sample_records();
  int32_t flags[3] = {0, 1, 7};
  const std::string name = dir.file("m.txt.TM.matches");
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_support_matches(m.data(), 3, flags, name), Status::ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(qortest::read_file(name),
            "10.500000 20.250000 30.000000 40.000000\n"
            "-7.000000 8.000000 9.000000 9.000000 0.125000 1000000.000000\n");
}

TEST(WriteSupportMatches, NoFlagSetGivesEmptyFile) {
  TempDir dir;
  std::vector<MatchRecord> m = sample_records();
  int32_t flags[3] = {0, 0, 0};
  EXPECT_EQ(write_support_matches(m.data(), 3, flags, dir.file("x.matches")), Status::ok);
  bool ok = false;
  EXPECT_EQ(qortest::read_file(dir.file("x.matches"), &ok), "");
  EXPECT_TRUE(ok);
}

TEST(WriteFilteredMatches, WritesTheKeptRecords) {
  TempDir dir;
  std::vector<MatchRecord> m = sample_records();
  const uint8_t keep[3] = {1, 0, 1};
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_filtered_matches(m.data(), 3, keep, dir.file("p.filtered")), Status::ok);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(qortest::read_file(dir.file("p.filtered")),
            "1.000000 2.000000 3.000000 4.000000 5.000000 6.000000\n"
            "-7.000000 8.000000 9.000000 9.000000 0.125000 1000000.000000\n");
}

TEST(WriteFilteredSide, WritesFirstOrLastPositions) {
  TempDir dir;
  std::vector<MatchRecord> m = sample_records();
  const uint8_t keep[3] = {1, 1, 0};
  EXPECT_EQ(write_filtered_side(m.data(), 3, keep, MatchSide::first, dir.file("p.L.filtered")),
            Status::ok);
  EXPECT_EQ(write_filtered_side(m.data(), 3, keep, MatchSide::last, dir.file("p.R.filtered")),
            Status::ok);
  EXPECT_EQ(qortest::read_file(dir.file("p.L.filtered")), "1.000000 2.000000 \n10.500000 20.250000 \n");
  EXPECT_EQ(qortest::read_file(dir.file("p.R.filtered")), "5.000000 6.000000 \n30.000000 40.000000 \n");
}

TEST(Writers, LongNamesWork) {
  // A path far longer than 252 bytes, through nested folders.
  TempDir dir;
  std::string path = dir.path();
  for (int i = 0; i < 4; ++i) {
    path += "/" + std::string(120, static_cast<char>('a' + i));
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  const std::string name = path + "/" + std::string(200, 'm') + ".matches";
  std::vector<MatchRecord> m = sample_records();
  int32_t flags[3] = {1, 0, 0};
  EXPECT_EQ(write_support_matches(m.data(), 3, flags, name), Status::ok);
  EXPECT_EQ(qortest::read_file(name), "1.000000 2.000000 3.000000 4.000000 5.000000 6.000000\n");
}

TEST(Writers, UnopenableOutputIsReported) {
  std::vector<MatchRecord> m = sample_records();
  int32_t flags[3] = {1, 1, 1};
  const uint8_t keep[3] = {1, 1, 1};
  EXPECT_EQ(write_support_matches(m.data(), 3, flags, "/nonexistent/s.matches"),
            Status::cannot_open);
  EXPECT_EQ(write_filtered_matches(m.data(), 3, keep, "/nonexistent/f.filtered"),
            Status::cannot_open);
  EXPECT_EQ(write_filtered_side(m.data(), 3, keep, MatchSide::first, "/nonexistent/f.L.filtered"),
            Status::cannot_open);
}

TEST(Writers, FullDiskRemovesThePartialFile) {
  if (!qortest::file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  // /dev/full accepts the open and refuses every write.
  ASSERT_EQ(symlink("/dev/full", dir.file("s.matches").c_str()), 0);
  std::vector<MatchRecord> m(5000, sample_records()[0]);
  std::vector<int32_t> flags(m.size(), 1);
  EXPECT_EQ(write_support_matches(m.data(), 5000, flags.data(), dir.file("s.matches")),
            Status::cannot_write);
  EXPECT_FALSE(qortest::file_exists(dir.file("s.matches")));
}

}  // namespace
