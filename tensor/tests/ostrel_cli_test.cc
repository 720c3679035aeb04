// Command-line tests of ostrel: banner, usage text, exit statuses, the lines
// printed while parsing, and the support file, byte for byte. The parser is
// also checked directly for the values that print nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "cli_util.h"
#include "params.h"

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
  for (const char *opt : {"-b", "-g", "-h", "-o", "-p", "-q", "-r", "-u", "-z", "-F", "-A", "--",
                          "-", "", "f", "-1"})
    expect_usage({"-f", "m.txt", opt});
}

TEST(OstrelCli, ParsingStopsAtTheFirstError) {
  // Lines printed before the error stay; options after it are not looked at.
  expect_usage({"-s", "0.9", "-x", "-e", "3"}, "Stop early flag 0.900000\n");
}

TEST(OstrelCli, ValueOptionInLastPositionGivesUsage) {
  for (const char *opt : {"-d", "-e", "-f", "-i", "-j", "-k", "-n", "-s", "-t"})
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

// Until estimation is wired in, no match is flagged: the support file is
// written, empty, with the count of all matches.
TEST(OstrelCli, WritesTheSupportFile) {
  TempDir dir;
  qortest::write_file(dir.file("m.txt"), qortest::read_file(data_file("three_lines.txt")));
  RunResult r = run_ostrel({"-f", "m.txt", "-n", "5"}, dir.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Match entries in file 3\n"
            "\nEvaluating the trifocal tensor ........\n"
            "Writing 3 support matches m.txt.TM.matches\n");
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
  EstimatorParams params;
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
  EstimatorParams params;
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

}  // namespace
