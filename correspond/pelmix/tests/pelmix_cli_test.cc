// Command-line tests of pelmix: standard output, standard error, exit status
// and every output file, byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli_util.h"

namespace {

const char kBanner[] = "TARVIK TOOL: pelmix\nTARVIK VERSION: 2.11\n";
const char kUsage[] =
    "\nPELMIX USAGE\n\npelmix [-h] [-f file] [-m medianScale] [-z Zhang Style Output]\n\n"
    "Default values are:\n\n\t3.5 median Scale factor\n\tNO Zhang output\n\n";

// Gradients G01 = 1, G02 = 1, G12 = 10: scores 2, 11, 11, median 11.
const char kThree[] = "100 100 100 100\n77.5 145 122.5 145\n127.5 155 72.5 155\n";
const char kThreeOut[] =
    "100.000000 100.000000 100.000000 100.000000\n"
    "77.500000 145.000000 122.500000 145.000000\n"
    "127.500000 155.000000 72.500000 155.000000\n";

// Four matches with gradient 1 to each other and 100 to the fifth:
// scores 103 (four times) and 400.
const char kFive[] =
    "5049.5 200 5148.5 200\n4949.5 200 4848.5 200\n4999.5 250 4998.5 350\n"
    "4999.5 150 4998.5 50\n0.5 200 9999.5 200\n";
const char kFiveOut[] =
    "5049.500000 200.000000 5148.500000 200.000000\n"
    "4949.500000 200.000000 4848.500000 200.000000\n"
    "4999.500000 250.000000 4998.500000 350.000000\n"
    "4999.500000 150.000000 4998.500000 50.000000\n";

// The same without its fourth line: scores 102 (three times) and 300,
// median 102, so scale 3.5 keeps all and scale 2 removes the last.
const char kFour[] =
    "5049.5 200 5148.5 200\n4949.5 200 4848.5 200\n4999.5 250 4998.5 350\n"
    "0.5 200 9999.5 200\n";
const char kFourGood[] =
    "5049.500000 200.000000 5148.500000 200.000000\n"
    "4949.500000 200.000000 4848.500000 200.000000\n"
    "4999.500000 250.000000 4998.500000 350.000000\n";

class PelmixCli : public testing::Test {
 protected:
  qortest::RunResult run(const std::vector<std::string> &args) {
    return qortest::run_program(qortest::program_path("pelmix"), args, dir.path(), "pelmix");
  }
  void put(const std::string &name, const std::string &text) {
    qortest::write_file(dir.file(name), text);
  }
  std::string get(const std::string &name) {
    bool ok = false;
    std::string text = qortest::read_file(dir.file(name), &ok);
    EXPECT_TRUE(ok) << name << " missing";
    return text;
  }
  qortest::TempDir dir;
};

TEST_F(PelmixCli, ThreeMatchesDefaultScale) {
  put("three.txt", kThree);
  const qortest::RunResult r = run({"-f", "three.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Match entries in file 3\nTotal number of correspondences 3\n"
            "Disparity gradient iteration...\nMedian 11.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = 11.000000\n");
  EXPECT_EQ(get("three.txt.filtered"), kThreeOut);
  EXPECT_FALSE(qortest::file_exists(dir.file("three.txt.L.filtered")));
}

TEST_F(PelmixCli, ScoreEqualToScaleTimesMedianIsNotWritten) {
  // Scale 1: the two matches scoring exactly 11 = 1 x 11 stay in the filter
  // but the writer keeps only scores strictly below. The option letter is
  // the second character alone.
  put("three.txt", kThree);
  const qortest::RunResult r = run({"/f", "three.txt", "xm", "1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Match entries in file 3\nTotal number of correspondences 3\n"
            "Disparity gradient iteration...\nMedian 11.000000\n"
            "Writing matches: Scale factor = 1.000000 , median = 11.000000\n");
  EXPECT_EQ(get("three.txt.filtered"), "100.000000 100.000000 100.000000 100.000000\n");
}

TEST_F(PelmixCli, FarMatchRemovedInTheFirstOfTwoPasses) {
  put("five.txt", kFive);
  const qortest::RunResult r = run({"-f", "five.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Match entries in file 5\nTotal number of correspondences 5\n"
            "Disparity gradient iteration...\nMedian 103.000000\n"
            "Disparity gradient iteration...\nMedian 3.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = 3.000000\n");
  EXPECT_EQ(get("five.txt.filtered"), kFiveOut);
}

TEST_F(PelmixCli, SideFilesNamedAfterTheInput) {
  put("pairs.txt", kFive);
  const qortest::RunResult r = run({"-z", "-f", "pairs.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Match entries in file 5\nTotal number of correspondences 5\n"
            "Disparity gradient iteration...\nMedian 103.000000\n"
            "Disparity gradient iteration...\nMedian 3.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = 3.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = 3.000000\n");
  EXPECT_EQ(get("pairs.txt.filtered"), kFiveOut);
  EXPECT_EQ(get("pairs.txt.L.filtered"),
            "5049.500000 200.000000 \n4949.500000 200.000000 \n"
            "4999.500000 250.000000 \n4999.500000 150.000000 \n");
  EXPECT_EQ(get("pairs.txt.R.filtered"),
            "5148.500000 200.000000 \n4848.500000 200.000000 \n"
            "4998.500000 350.000000 \n4998.500000 50.000000 \n");
}

TEST_F(PelmixCli, ScaleTwoIsStricterAndAnUnreadableScaleKeepsTheDefault) {
  put("four.txt", kFour);
  qortest::RunResult r = run({"-f", "four.txt", "-m", "2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Match entries in file 4\nTotal number of correspondences 4\n"
            "Disparity gradient iteration...\nMedian 102.000000\n"
            "Disparity gradient iteration...\nMedian 2.000000\n"
            "Writing matches: Scale factor = 2.000000 , median = 2.000000\n");
  EXPECT_EQ(get("four.txt.filtered"), kFourGood);

  const std::string default_out =
      "Match entries in file 4\nTotal number of correspondences 4\n"
      "Disparity gradient iteration...\nMedian 102.000000\n"
      "Writing matches: Scale factor = 3.500000 , median = 102.000000\n";
  const std::string all_four = std::string(kFourGood) + "0.500000 200.000000 9999.500000 200.000000\n";
  for (const char *value : {"abc", "3.5"}) {
    r = run({"-m", value, "-f", "four.txt"});
    EXPECT_EQ(r.status, 0) << value;
    EXPECT_EQ(r.out, default_out) << value;
    EXPECT_EQ(get("four.txt.filtered"), all_four) << value;
  }
}

TEST_F(PelmixCli, RemovedMatchesWrittenAfterAnAllZeroLastPass) {
  // The middle match is removed (score 8 > 3.5 x 2); the other four are a
  // pure translation, so the last median is 0, replaced by 1e30, and even
  // the removed match (999999) lies below the limit.
  const std::string input = "10 13 16 15\n4 13 10 15\n2 9 18 11\n10 5 16 7\n4 5 10 7\n";
  put("m.txt", input);
  const qortest::RunResult r = run({"-f", "m.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Match entries in file 5\nTotal number of correspondences 5\n"
            "Disparity gradient iteration...\nMedian 2.000000\n"
            "Disparity gradient iteration...\nMedian 0.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = "
            "1000000000000000019884624838656.000000\n");
  EXPECT_EQ(get("m.txt.filtered"),
            "10.000000 13.000000 16.000000 15.000000\n4.000000 13.000000 10.000000 15.000000\n"
            "2.000000 9.000000 18.000000 11.000000\n10.000000 5.000000 16.000000 7.000000\n"
            "4.000000 5.000000 10.000000 7.000000\n");
}

TEST_F(PelmixCli, PureTranslationTripletsAndASingleMatchAreAllWritten) {
  put("t.txt", "10 20 0 0 14 24\n30 25 1 1 34 29\n-2 7 5 5 2 11\n");
  qortest::RunResult r = run({"-f", "t.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Match entries in file 3\nTotal number of correspondences 3\n"
            "Disparity gradient iteration...\nMedian 0.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = "
            "1000000000000000019884624838656.000000\n");
  EXPECT_EQ(get("t.txt.filtered"),
            "10.000000 20.000000 0.000000 0.000000 14.000000 24.000000\n"
            "30.000000 25.000000 1.000000 1.000000 34.000000 29.000000\n"
            "-2.000000 7.000000 5.000000 5.000000 2.000000 11.000000\n");

  put("one.txt", "7 8 9 10\n");
  r = run({"-f", "one.txt", "-z"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Match entries in file 1\nTotal number of correspondences 1\n"
            "Disparity gradient iteration...\nMedian 0.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = "
            "1000000000000000019884624838656.000000\n"
            "Writing matches: Scale factor = 3.500000 , median = "
            "1000000000000000019884624838656.000000\n");
  EXPECT_EQ(get("one.txt.filtered"), "7.000000 8.000000 9.000000 10.000000\n");
  EXPECT_EQ(get("one.txt.L.filtered"), "7.000000 8.000000 \n");
  EXPECT_EQ(get("one.txt.R.filtered"), "9.000000 10.000000 \n");
}

TEST_F(PelmixCli, WrongCommandLinesPrintTheUsage) {
  put("three.txt", kThree);
  const std::vector<std::vector<std::string>> wrong = {
      {},                            // no arguments
      {"-h"},                        // help, and too few arguments
      {"-h", "-f", "three.txt"},     // an unknown letter
      {"-f"},                        // too few arguments
      {"-z", "-f"},                  // -f without its value
      {"-f", "three.txt", "-m"},     // -m without its value
      {"-z", "-m", "2"},             // no match file
      {"-f", "three.txt", "-"},      // no letter at all
      {"-f", "three.txt", ""},       // an empty argument
  };
  for (const std::vector<std::string> &args : wrong) {
    const qortest::RunResult r = run(args);
    const std::string shown = args.empty() ? "(none)" : args[0] + " ...";
    EXPECT_EQ(r.status, 1) << shown;
    EXPECT_EQ(r.err, std::string(kBanner) + kUsage) << shown;
    EXPECT_EQ(r.out, "") << shown;
  }
  EXPECT_FALSE(qortest::file_exists(dir.file("three.txt.filtered")));
}

TEST_F(PelmixCli, BannerShowsTheInvocationName) {
  const qortest::RunResult r =
      qortest::run_program(qortest::program_path("pelmix"), {"-h"}, dir.path(), "./bin/pm");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string("TARVIK TOOL: ./bin/pm\nTARVIK VERSION: 2.11\n") + kUsage);
}

TEST_F(PelmixCli, InputWithoutMatches) {
  qortest::RunResult r = run({"-f", "nosuch.txt"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out, "can't open nosuch.txt\nError reading file, no correspondences read!\n");

  put("empty.txt", "");
  r = run({"-f", "empty.txt"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Match entries in file 0\nError reading file, no correspondences read!\n");
  EXPECT_FALSE(qortest::file_exists(dir.file("empty.txt.filtered")));
}

TEST_F(PelmixCli, OutputThatCannotBeOpened) {
  put("three.txt", kThree);
  ASSERT_EQ(mkdir(dir.file("three.txt.filtered").c_str(), 0755), 0);
  qortest::RunResult r = run({"-f", "three.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Match entries in file 3\nTotal number of correspondences 3\n"
            "Disparity gradient iteration...\nMedian 11.000000\n"
            "can't open three.txt.filtered\n");

  put("five.txt", kFive);
  ASSERT_EQ(mkdir(dir.file("five.txt.R.filtered").c_str(), 0755), 0);
  r = run({"-f", "five.txt", "-z"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(get("five.txt.filtered"), kFiveOut);
  const std::string tail = "Writing matches: Scale factor = 3.500000 , median = 3.000000\n"
                           "can't open five.txt.R.filtered\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST_F(PelmixCli, GradientsThatCannotBeHeldAreEvaluatedAgainWithTheSameResult) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit does not work under AddressSanitizer";
#else
  // 3000 matches need 36 MB for the stored gradients; under a 24 MB
  // address-space limit that block cannot be had and every pass evaluates
  // the gradients again. Output and files must not change.
  std::string input;
  unsigned state = 7;
  char line[96];
  for (int i = 0; i < 3000; ++i) {
    state = state * 1103515245u + 12345u;
    const double x = (state >> 8) % 8000 / 10.0;
    state = state * 1103515245u + 12345u;
    const double y = (state >> 8) % 6000 / 10.0;
    state = state * 1103515245u + 12345u;
    const double wild = (state >> 8) % 10 == 0 ? ((state >> 12) % 900) / 10.0 - 45.0 : 0.0;
    snprintf(line, sizeof line, "%.1f %.1f %.2f %.2f\n", x, y, x + 12 + 0.01 * x + wild,
             y - 3 + 0.02 * y);
    input += line;
  }
  put("big.txt", input);
  const qortest::RunResult held = run({"-f", "big.txt", "-z"});
  ASSERT_EQ(held.status, 0);
  const std::string files[] = {get("big.txt.filtered"), get("big.txt.L.filtered"),
                               get("big.txt.R.filtered")};
  EXPECT_GT(std::count(held.out.begin(), held.out.end(), '\n'), 6) << "want several passes";
  for (const char *suffix : {".filtered", ".L.filtered", ".R.filtered"})
    ASSERT_EQ(remove(dir.file(std::string("big.txt") + suffix).c_str()), 0);

  const qortest::RunResult limited = qortest::run_program(
      qortest::program_path("pelmix"), {"-f", "big.txt", "-z"}, dir.path(), "pelmix", 24ul << 20);
  EXPECT_EQ(limited.status, 0);
  EXPECT_EQ(limited.out, held.out);
  EXPECT_EQ(get("big.txt.filtered"), files[0]);
  EXPECT_EQ(get("big.txt.L.filtered"), files[1]);
  EXPECT_EQ(get("big.txt.R.filtered"), files[2]);
#endif
}

}  // namespace
