// Command-line tests of ostrel: banner, usage text, exit statuses, the lines
// printed while parsing and estimating, the tensor file and the support
// file, byte for byte. The parser is
// also checked directly for the values that print nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <string>
#include <vector>

#include "cli_util.h"
#include "linear.h"
#include "options.h"
#include "synthetic_triplets.h"
#include "tensor_file.h"
#include "transfer.h"

namespace {

using qortest::RunResult;
using qortest::TempDir;

const std::string kBanner = "TARVIK TOOL: ostrel\nTARVIK VERSION: 2.11\n";

std::string data_file(const std::string &name) {
  return std::string(QOR_TEST_DATA) + "/ostrel/" + name;
}

std::string usage_text() {
  bool ok = false;
  std::string text = qortest::read_file(data_file("usage.txt"), &ok);
  EXPECT_TRUE(ok);
  return text;
}

RunResult run_ostrel(const std::vector<std::string> &args, const std::string &cwd) {
  return qortest::run_program(qortest::program_path("ostrel"), args, cwd, "ostrel");
}

// Nine lines of three zeros with twenty decimals.
std::string zero_tensor_file() {
  std::string line = "0.00000000000000000000 0.00000000000000000000 0.00000000000000000000\n";
  std::string text;
  for (int n = 0; n < 9; ++n) text += line;
  return text;
}

// A wrong command line: banner and usage on standard error, nothing else,
// status 1.
void expect_usage(const std::vector<std::string> &args, const std::string &out = "") {
  TempDir dir;
  RunResult r = run_ostrel(args, dir.path());
  std::string joined;
  for (const std::string &a : args) joined += "[" + a + "]";
  EXPECT_EQ(r.status, 1) << joined;
  EXPECT_EQ(r.err, kBanner + usage_text()) << joined;
  EXPECT_EQ(r.out, out) << joined;
}

TEST(OstrelCli, TooFewArgumentsGiveUsage) {
  expect_usage({});
  expect_usage({"-c"});
  expect_usage({"-f"});
  expect_usage({"-fm.txt"});
}

TEST(OstrelCli, BannerShowsTheInvocationName) {
  TempDir dir;
  RunResult r = qortest::run_program(qortest::program_path("ostrel"), {}, dir.path(),
                                     "/some/where/my-ostrel");
  EXPECT_EQ(r.err.substr(0, 57), "TARVIK TOOL: /some/where/my-ostrel\nTARVIK VERSION: 2.11\n\n");
}

TEST(OstrelCli, UnknownOptionLettersGiveUsage) {
  for (const char *opt : {"-b", "-h", "-o", "-q", "-u", "-z", "-F", "-A", "--",
                          "-", "", "f", "-1"})
    expect_usage({"-f", "m.txt", opt});
}

TEST(OstrelCli, ParsingStopsAtTheFirstError) {
  // Lines printed before the error stay; options after it are not looked at.
  expect_usage({"-s", "0.9", "-x", "-e", "3"}, "Stop early flag 0.900000\n");
}

TEST(OstrelCli, ValueOptionInLastPositionGivesUsage) {
  for (const char *opt : {"-d", "-e", "-f", "-i", "-j", "-k", "-n", "-p", "-s", "-t"})
    expect_usage({"-f", "m.txt", opt});
  expect_usage({"-c", "-f"});
  expect_usage({"-f", "m.txt", "-s", "0.9", "-t"}, "Stop early flag 0.900000\n");
}

TEST(OstrelCli, NoMatchFileGivesUsage) {
  expect_usage({"-c", "-l"});
  expect_usage({"-t", "prev", "-a"}, "Tensormatfile file prev\n");
}

TEST(OstrelCli, PrintedLinesThenUnreadableMatchFile) {
  TempDir dir;
  RunResult r = run_ostrel({"-e", "2.5", "-s", "0.99", "-t", "prev", "-f", "nofile"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Arg 2 2.5\n"
            "Previous tensor filter distance 2.500000\n"
            "Stop early flag 0.990000\n"
            "Tensormatfile file prev\n"
            "can't open nofile\n"
            "Error reading file: nofile");
}

TEST(OstrelCli, UnreadableValuesKeepTheDefaults) {
  TempDir dir;
  RunResult r = run_ostrel({"-c", "-e", "abc", "-s", "x0.5", "-f", "nofile"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "Arg 3 abc\n"
            "Previous tensor filter distance 10.000000\n"
            "Stop early flag 0.950000\n"
            "can't open nofile\n"
            "Error reading file: nofile");
}

TEST(OstrelCli, OnlyTheSecondCharacterCounts) {
  TempDir dir;
  // xf works as -f, -count as -c, -l2 as -l, -eee as -e; a value is taken
  // whatever it looks like.
  RunResult r = run_ostrel({"-count", "-l2", "-eee", "-7", "xf", "-c"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Arg 4 -7\n"
            "Previous tensor filter distance -7.000000\n"
            "can't open -c\n"
            "Error reading file: -c");
}

TEST(OstrelCli, VeryLongOptionValue) {
  TempDir dir;
  const std::string value(20000, '7');  // far beyond the double range
  RunResult r = run_ostrel({"-f", "nofile", "-e", value}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Arg 4 " + value +
                       "\nPrevious tensor filter distance inf\n"
                       "can't open nofile\n"
                       "Error reading file: nofile");
}

TEST(OstrelCli, EmptyMatchFileIsAReadError) {
  TempDir dir;
  qortest::write_file(dir.file("empty.txt"), "");
  RunResult r = run_ostrel({"-f", "empty.txt", "-c"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out, "Match entries in file 0\nError reading file: empty.txt");
  EXPECT_FALSE(qortest::file_exists(dir.file("empty.txt.TM.matches")));
  // A folder opens but yields no lines.
  r = run_ostrel({"-f", ".", "-c"}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Match entries in file 0\nError reading file: .");
}

// Fewer matches than a sample needs: no estimation, but an all-zero tensor
// file and an empty support file are still written.
TEST(OstrelCli, FewerMatchesThanTheSampleSize) {
  TempDir dir;
  qortest::write_file(dir.file("m.txt"), qortest::read_file(data_file("three_lines.txt")));
  RunResult r = run_ostrel({"-f", "m.txt", "-n", "5"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Match entries in file 3\n"
            "\nEvaluating the trifocal tensor ........\n"
            "Not enough correspondences for Random Sampling to occur"
            "Writing 3 support matches m.txt.TM.matches\n");
  EXPECT_EQ(qortest::read_file(dir.file("m.txt.TM")), zero_tensor_file());
  bool ok = false;
  EXPECT_EQ(qortest::read_file(dir.file("m.txt.TM.matches"), &ok), "");
  EXPECT_TRUE(ok);
}

TEST(OstrelCli, UnopenableSupportFileExitsWithStatusOne) {
  TempDir dir;
  qortest::write_file(dir.file("m.txt"), qortest::read_file(data_file("three_lines.txt")));
  ASSERT_EQ(mkdir(dir.file("m.txt.TM.matches").c_str(), 0755), 0);
  RunResult r = run_ostrel({"-f", "m.txt"}, dir.path());
  EXPECT_EQ(r.status, 1);
  const std::string tail = "can't open m.txt.TM.matches\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(OstrelCli, LongMatchFileNames) {
  TempDir dir;
  std::string rel;
  for (int i = 0; i < 3; ++i) {
    rel += std::string(100, static_cast<char>('a' + i)) + "/";
    ASSERT_EQ(mkdir(dir.file(rel).c_str(), 0755), 0);
  }
  rel += std::string(150, 'm');
  qortest::write_file(dir.file(rel), "1 2 3 4\n");
  RunResult r = run_ostrel({"-f", rel}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(qortest::file_exists(dir.file(rel + ".TM.matches")));
}

// The parser on its own, for the values that print nothing.
struct Parsed {
  bool ok;
  OstrelParams params;
  OstrelCommandLine line;
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "ostrel");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Parsed p;
  testing::internal::CaptureStdout();
  p.ok = parse_ostrel_command_line(static_cast<int>(args.size()), argv.data(), &p.params, &p.line);
  testing::internal::GetCapturedStdout();
  // The names point into the argument vector, which goes away here.
  p.line.matchFile = p.line.matchFile ? "set" : nullptr;
  return p;
}

TEST(OstrelParams, OptionsSetTheirFields) {
  Parsed p = parse({"-f", "m", "-a", "-l", "-m", "-d", "2.5", "-n", "42", "-s", "0.99", "-t", "p",
                    "-e", "4"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.params.method, 0);
  EXPECT_EQ(p.params.sampleSize, 4);
  EXPECT_EQ(p.params.scoring, 1);
  EXPECT_EQ(p.params.refit, 0);
  EXPECT_EQ(p.params.distance, 2.5);
  EXPECT_EQ(p.line.samples, 42);
  EXPECT_EQ(p.params.stopEarly, 1);
  EXPECT_EQ(p.params.successProbability, 0.99);
  EXPECT_EQ(p.params.usePreviousTensor, 1);
  EXPECT_EQ(p.params.previousTensorDistance, 4.0);
  // -c after -l goes back to count scoring; nothing takes -a back.
  Parsed q = parse({"-a", "-l", "-c", "-f", "m"});
  EXPECT_EQ(q.params.scoring, 0);
  EXPECT_EQ(q.params.method, 0);
}

TEST(OstrelParams, ImageNames) {
  std::vector<std::string> args = {"ostrel", "-f", "m", "-i", "a.jpg", "-j", "b.jpg", "-k", "c.jpg"};
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  OstrelParams params;
  OstrelCommandLine line;
  ASSERT_TRUE(parse_ostrel_command_line(static_cast<int>(argv.size()), argv.data(), &params, &line));
  EXPECT_STREQ(line.matchFile, "m");
  EXPECT_STREQ(line.imageFile1, "a.jpg");
  EXPECT_STREQ(line.imageFile2, "b.jpg");
  EXPECT_STREQ(line.imageFile3, "c.jpg");
}

TEST(OstrelParams, UnreadableOrOutOfRangeValues) {
  Parsed p = parse({"-f", "m", "-d", "far", "-n", "many"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.params.distance, 1.0);
  EXPECT_EQ(p.line.samples, 1000);
  // "%d" syntax: leading blanks and a sign are read, trailing text ignored;
  // a count beyond the int32 range is clamped rather than wrapped.
  EXPECT_EQ(parse({"-f", "m", "-n", "  -12abc"}).line.samples, -12);
  EXPECT_EQ(parse({"-f", "m", "-n", "99999999999999999999"}).line.samples, 2147483647);
  EXPECT_EQ(parse({"-f", "m", "-n", "-99999999999"}).line.samples, -2147483647 - 1);
  EXPECT_EQ(parse({"-f", "m", "-d", "0.5px"}).params.distance, 0.5);
}


// ---- Estimation runs ----------------------------------------------------------

struct Outputs {
  RunResult run;
  std::string tensor;
  std::string support;
};

Outputs run_on(const TempDir &dir, const std::string &matches_text,
               std::vector<std::string> options) {
  qortest::write_file(dir.file("m.txt"), matches_text);
  options.insert(options.begin(), {"-f", "m.txt"});
  Outputs o;
  o.run = run_ostrel(options, dir.path());
  o.tensor = qortest::read_file(dir.file("m.txt.TM"));
  o.support = qortest::read_file(dir.file("m.txt.TM.matches"));
  return o;
}

int occurrences(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string after(const std::string &text, const std::string &marker) {
  const size_t at = text.find(marker);
  return at == std::string::npos ? std::string() : text.substr(at + marker.size());
}

// The assessment block printed after `heading`.
std::string assessment(const std::string &out, const std::string &heading) {
  const std::string rest = after(out, heading);
  const size_t maximum = rest.find("Maximum distance = ");
  return maximum == std::string::npos ? std::string() : rest.substr(0, rest.find('\n', maximum) + 1);
}

const synthetic::TripletSet &projective_scene() {
  static const synthetic::TripletSet set = synthetic::projective_set(42, 150, 0.1, 60);
  return set;
}

// Two runs on the same input give identical output; with a 2-pixel distance
// the support file holds exactly the inliers, in file order.
TEST(OstrelRun, ProjectiveSceneIsDeterministicAndFindsTheInliers) {
  TempDir a, b;
  const std::string text = synthetic::file_text(projective_scene());
  const Outputs one = run_on(a, text, {"-d", "2"});
  const Outputs two = run_on(b, text, {"-d", "2"});
  EXPECT_EQ(one.run.status, 0);
  EXPECT_EQ(one.run.err, kBanner);
  EXPECT_EQ(one.run.out, two.run.out);
  EXPECT_EQ(one.tensor, two.tensor);
  EXPECT_EQ(one.support, two.support);
  EXPECT_EQ(one.support, synthetic::inlier_text(projective_scene()));
  EXPECT_EQ(one.run.out.find("Match entries in file 210\n\nEvaluating the trifocal tensor "
                             "........\nNEW T: with "),
            0u);
  EXPECT_NE(one.run.out.find("Total possible matches 210 final actual matches 150\n"),
            std::string::npos);
  const std::string tail = "Writing 210 support matches m.txt.TM.matches\n";
  EXPECT_EQ(one.run.out.substr(one.run.out.size() - tail.size()), tail);
  EXPECT_EQ(occurrences(one.tensor, "\n"), 9);
}

TEST(OstrelRun, AffineSceneFindsTheInliers) {
  TempDir dir;
  const synthetic::TripletSet set = synthetic::affine_set(43, 150, 0.1, 60);
  const Outputs o = run_on(dir, synthetic::file_text(set), {"-a", "-d", "2"});
  EXPECT_EQ(o.run.status, 0);
  EXPECT_EQ(o.support, synthetic::inlier_text(set));
  // Entries 16..26 stay zero unless a refit tensor wins, which the affine
  // assessment of a projective refit does not let happen here.
  EXPECT_EQ(assessment(o.run.out, "Original assessment ==="),
            assessment(o.run.out, "Refit assessment ==="));
  const char *at = o.tensor.c_str();
  for (int n = 0; n < 27; ++n) {
    char *end = nullptr;
    const double v = std::strtod(at, &end);
    ASSERT_NE(end, at);
    if (n < 16) {
      EXPECT_NE(v, 0.0) << n;
    } else {
      EXPECT_EQ(v, 0.0) << n;
    }
    at = end;
  }
}

TEST(OstrelRun, ZeroDistanceWritesAZeroTensorAndNoSupport) {
  TempDir dir;
  const Outputs o = run_on(dir, synthetic::file_text(projective_scene()), {"-d", "0", "-n", "20"});
  EXPECT_EQ(o.run.status, 0);
  const std::string zeros =
      "\n=== Error assessment ===\nAverage distance = 0.000000 pixels\n"
      "Maximum distance = 0.000000 pixels\n";
  EXPECT_EQ(o.run.out, "Match entries in file 210\n\nEvaluating the trifocal tensor ........\n"
                       "Total possible matches 210 final actual matches 0\n"
                       "\n=== Original assessment ===" + zeros +
                       "\n=== Refit assessment ===" + zeros +
                       "Writing 210 support matches m.txt.TM.matches\n");
  EXPECT_EQ(o.tensor, zero_tensor_file());
  EXPECT_EQ(o.support, "");
}

// Exact affine data: every match supports every sample's tensor.
TEST(OstrelRun, SampleCountsAndStopEarly) {
  const std::string text = synthetic::file_text(synthetic::affine_set(3, 10, 0.0, 0));
  TempDir dir;
  // -n 0 still computes one tensor.
  Outputs o = run_on(dir, text, {"-a", "-n", "0"});
  EXPECT_EQ(o.run.status, 0);
  EXPECT_EQ(after(o.run.out, "........\n").substr(0, 75),
            "NEW T: with 10 Matches!\nTotal possible matches 10 final actual matches 10\n\n");
  EXPECT_NE(o.tensor, zero_tensor_file());
  // All matches support the first tensor: the bound is 0, so the second
  // sample (counter 1) stops the loop.
  o = run_on(dir, text, {"-a", "-s", "0.95"});
  EXPECT_EQ(o.run.out.find("Stop early flag 0.950000\nMatch entries in file 10\n\n"
                           "Evaluating the trifocal tensor ........\nNEW T: with 10 Matches!\n"
                           "Stopped early samples 1 prob. success 0.950000\n"
                           "Total possible matches 10 final actual matches 10\n"),
            0u);
  // L2 scoring prints the score and the count.
  o = run_on(dir, text, {"-a", "-l", "-n", "0"});
  EXPECT_EQ(after(o.run.out, "........\n").substr(0, 48),
            "NEW T: with 10.000000 Score! with 10 Matches...\n");
}

TEST(OstrelRun, NoRefitRepeatsTheOriginalAssessment) {
  TempDir dir;
  const Outputs o = run_on(dir, synthetic::file_text(projective_scene()), {"-m", "-n", "50"});
  EXPECT_EQ(o.run.status, 0);
  const std::string original = assessment(o.run.out, "\n=== Original assessment ===");
  EXPECT_NE(original.find("Average distance = "), std::string::npos);
  EXPECT_EQ(original, assessment(o.run.out, "\n=== Refit assessment ==="));
}

// ---- Previous-tensor filter ------------------------------------------------------

TrifocalTensor tensor_of(const std::string &base) {
  TrifocalTensor t{};
  EXPECT_EQ(read_tensor(&t, base + ".TM"), Status::ok);
  return t;
}

// A second run with the first run's tensor drops the matches whose mean
// transfer distance is at or beyond -e and keeps the rest in order.
TEST(OstrelRun, PreviousTensorFiltersTheMatches) {
  TempDir dir;
  const synthetic::TripletSet &set = projective_scene();
  const std::string text = synthetic::file_text(set);
  run_on(dir, text, {"-d", "2"});
  ASSERT_EQ(std::rename(dir.file("m.txt.TM").c_str(), dir.file("prev.TM").c_str()), 0);
  const TrifocalTensor prev = tensor_of(dir.file("prev"));

  std::string d_lines;
  std::string kept_text;
  int kept = 0;
  for (const MatchRecord &m : set.matches) {
    const double e = mean_transfer_distance(transfer_distances(TensorMethod::six_point, prev, m));
    if (e < 5.0) {
      ++kept;
      kept_text += synthetic::line_of(m);
    }
    char line[120];
    std::snprintf(line, sizeof line, "D error %f\nActualmatches %d\n", e, kept);
    d_lines += line;
  }
  ASSERT_EQ(kept, 150);  // the inliers, as the first run found them
  char echo[300];
  std::snprintf(echo, sizeof echo, "Tensor 0 %f %f %f\nTensor 1 %f %f %f\nTensor 2 %f %f %f\n",
                prev[0], prev[1], prev[2], prev[9], prev[10], prev[11], prev[18], prev[19],
                prev[20]);
  const Outputs o = run_on(dir, text, {"-t", "prev", "-e", "5", "-d", "2"});
  EXPECT_EQ(o.run.status, 0);
  EXPECT_EQ(o.run.out.find("Tensormatfile file prev\nArg 6 5\n"
                           "Previous tensor filter distance 5.000000\n"
                           "Match entries in file 210\nPrevous tensor distance 5.000000\n" +
                           std::string(echo) + d_lines +
                           "Original match count 210 updated match count 150\n"
                           "Evaluating the trifocal tensor ........\n"),
            0u);
  EXPECT_EQ(o.support, kept_text);
  EXPECT_NE(o.run.out.find("Writing 150 support matches"), std::string::npos);
}

// -e equal to a match's mean distance drops it; -a transfers with the
// affine relations even though the tensor file came from a projective run.
TEST(OstrelRun, PreviousTensorDistanceIsExclusiveAndFollowsTheMethod) {
  TempDir dir;
  const std::vector<MatchRecord> matches = scene::random_scene(9, 8).triplets;
  TrifocalTensor t;
  compute_linear_tensor(matches.data(), 8, &t);
  ASSERT_EQ(write_tensor(t, dir.file("prev.TM")), Status::ok);
  const TrifocalTensor prev = tensor_of(dir.file("prev"));
  std::vector<MatchRecord> moved = matches;
  moved[2].first.x += 4.0;
  std::string text;
  for (const MatchRecord &m : moved) text += synthetic::line_of(m);
  // The records exactly as the program reads them.
  qortest::write_file(dir.file("m.txt"), text);
  std::vector<MatchRecord> read_back;
  int lines = -1;
  ASSERT_EQ(read_matches(dir.file("m.txt").c_str(), &read_back, &lines), Status::ok);
  ASSERT_EQ(read_back.size(), 8u);
  const double e = mean_transfer_distance(transfer_distances(TensorMethod::six_point, prev, read_back[2]));
  char value[40];
  std::snprintf(value, sizeof value, "%.17g", e);
  Outputs o = run_on(dir, text, {"-t", "prev", "-e", value, "-n", "0"});
  EXPECT_NE(o.run.out.find("updated match count 7"), std::string::npos);
  std::snprintf(value, sizeof value, "%.17g", std::nextafter(e, 1e9));
  o = run_on(dir, text, {"-t", "prev", "-e", value, "-n", "0"});
  EXPECT_NE(o.run.out.find("updated match count 8"), std::string::npos);

  o = run_on(dir, text, {"-t", "prev", "-a", "-n", "0"});
  char first[60];
  std::snprintf(first, sizeof first, "D error %f\n",
                mean_transfer_distance(transfer_distances(TensorMethod::affine, prev, read_back[0])));
  EXPECT_NE(o.run.out.find(first), std::string::npos);
}

TEST(OstrelRun, FilterThatKeepsNothing) {
  TempDir dir;
  ASSERT_EQ(write_tensor(TrifocalTensor{}, dir.file("prev.TM")), Status::ok);  // transfers nothing
  const Outputs o = run_on(dir, synthetic::file_text(projective_scene()), {"-t", "prev"});
  EXPECT_EQ(o.run.status, 0);
  const std::string tail =
      "Original match count 210 updated match count 0\n"
      "Evaluating the trifocal tensor ........\n"
      "Not enough correspondences for Random Sampling to occur"
      "Writing 0 support matches m.txt.TM.matches\n";
  EXPECT_EQ(o.run.out.substr(o.run.out.size() - tail.size()), tail);
  EXPECT_EQ(o.tensor, zero_tensor_file());
  EXPECT_EQ(o.support, "");
}

TEST(OstrelRun, UnusableTensorFilesAreRefused) {
  TempDir dir;
  const std::string text = synthetic::file_text(projective_scene());
  const std::string head = "Tensormatfile file prev\nMatch entries in file 210\n"
                           "Prevous tensor distance 10.000000\n";
  Outputs o = run_on(dir, text, {"-t", "prev"});
  EXPECT_EQ(o.run.status, 1);
  EXPECT_EQ(o.run.out, head + "can't open prev.TM\n");
  qortest::write_file(dir.file("prev.TM"), "1 2 3\n4 5 6\n");
  o = run_on(dir, text, {"-t", "prev"});
  EXPECT_EQ(o.run.status, 1);
  EXPECT_EQ(o.run.out, head + "can't read prev.TM: only 6 of the 27 tensor numbers\n");
  qortest::write_file(dir.file("prev.TM"), "1 2 3\n4 5 six\n");
  o = run_on(dir, text, {"-t", "prev"});
  EXPECT_EQ(o.run.status, 1);
  EXPECT_EQ(o.run.out, head + "can't read prev.TM: number 6 is not a number\n");
  EXPECT_FALSE(qortest::file_exists(dir.file("m.txt.TM")));
  EXPECT_FALSE(qortest::file_exists(dir.file("m.txt.TM.matches")));
}

}  // namespace
