// Runs the built vandrel program on small image sequences and compares its
// standard output, standard error, exit status and track files byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_util.h"

namespace {

using qortest::RunResult;

const char kBanner[] = "TARVIK TOOL: vandrel\nTARVIK VERSION: 2.11\n";
const char kUsage[] =
    "\nVANDREL USAGE\n\tvandrel -p preamblestring -o postamble string\n"
    "\t-s start number -e end number -f output file [-n a series of new number in image order] "
    "[-b long form output]\n"
    "\t[-r means reverse image order] [-d minimum disparity] \n\t[-a image offset] [-x image "
    "extension] [-l minimum chain length]\n"
    "\t[-q divide count] \n"
    "\tdefault no reverse\n\tminimum disparity 5.0 pixels\n\tjpeg image type\n"
    "\n\n";

class VandrelCli : public testing::Test {
 protected:
  RunResult run(const std::vector<std::string> &args) {
    return qortest::run_program(qortest::program_path("vandrel"), args, dir.path(), "vandrel");
  }
  void put(const std::string &name, const std::string &text) {
    qortest::write_file(dir.file(name), text);
  }
  std::string file(const std::string &name) { return qortest::read_file(dir.file(name)); }
  bool exists(const std::string &name) { return qortest::file_exists(dir.file(name)); }
  // One point moving 10 pixels per image: x = 10 * position + 0.5, y = 5,
  // in the triplet files for images first .. last_first + 2.
  void put_moving_point(int first, int last_first) {
    for (int i = first; i <= last_first; ++i) {
      int p = i - first + 1;
      std::string line;
      for (int k = 0; k < 3; ++k) line += std::to_string(10 * (p + k)) + ".5 5 ";
      put(std::to_string(i) + ".jpg-" + std::to_string(i + 1) + ".jpg-" + std::to_string(i + 2) +
              ".jpg",
          line + "\n");
    }
  }
  qortest::TempDir dir;
};

TEST_F(VandrelCli, OneArgumentShowsTheUsage) {
  RunResult r = run({"-b"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string(kBanner) + kUsage);
}

TEST_F(VandrelCli, AnUnknownOptionLetterShowsTheUsage) {
  for (const char *bad : {"-g", "-B", "-9", "-y"}) {
    RunResult r = run({"-s", "0", bad, "-b"});
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(r.out, "Arg count 5\n") << bad;
    EXPECT_EQ(r.err, std::string(kBanner) + kUsage) << bad;
  }
}

TEST_F(VandrelCli, StartThreeEndFourWritesAnEmptyFile) {
  RunResult r = run({"-s", "3", "-e", "4", "-f", "out"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Arg count 7\n"
            "Preamble  postamble  start number 3 end number 4 output file out minimum_disparity 5\n");
  bool ok = false;
  EXPECT_EQ(qortest::read_file(dir.file("out"), &ok), "");
  EXPECT_TRUE(ok);
}

TEST_F(VandrelCli, StartThreeEndFiveReadsOneFileAsStepOne) {
  put("3.jpg-4.jpg-5.jpg", "1 1 2 2 30 30\n5 5 20 20 40 40\n");
  put("4.jpg-5.jpg-6.jpg", "20 20 40 40 60 60\n");  // outside the sequence
  RunResult r = run({"-s", "3", "-e", "5", "-f", "out", "-l", "3"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Arg count 9\n"
            "Minimum chain length 3\n"
            "Preamble  postamble  start number 3 end number 5 output file out minimum_disparity 5\n"
            "File name 3.jpg-4.jpg-5.jpg\n"
            "Too small disparity\n"
            "Point number 0 image 1 renumbered image 1 x value 5.000000 y value 5.000000 "
            "chainlength 3\n"
            "Point number 0 image 2 renumbered image 2 x value 20.000000 y value 20.000000 "
            "chainlength 3\n"
            "Point number 0 image 3 renumbered image 3 x value 40.000000 y value 40.000000 "
            "chainlength 3\n"
            "Histo index 3 entry 1\n");
  EXPECT_EQ(file("out"), "mp 1 1 5.0 5.0\r\nmp 2 1 20.0 20.0\r\nmp 3 1 40.0 40.0\r\n");
}

TEST_F(VandrelCli, RenumberedAndReversedSkippingAShortChain) {
  put("0.jpg-1.jpg-2.jpg", "200 200 300 300 400 400\n10.4 20.6 30.3 40.7 50.6 60.2\n");
  put("1.jpg-2.jpg-3.jpg", "30.8 40.1 50.9 60.4 70.6 80.3\n");
  put("2.jpg-3.jpg-4.jpg", "50.2 60.8 70.3 80.6 90.1 100.9\n");
  RunResult r = run({"-n", "10", "12", "14", "-r", "-s", "0", "-e", "4", "-f", "out"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Arg count 12\n"
            "argument 10\nImage number 1 new number 10 argc 2\n"
            "argument 12\nImage number 2 new number 12 argc 3\n"
            "argument 14\nImage number 3 new number 14 argc 4\n"
            "Reverse flag\n"
            "Preamble  postamble  start number 0 end number 4 output file out minimum_disparity 5\n"
            "File name 0.jpg-1.jpg-2.jpg\n"
            "File name 1.jpg-2.jpg-3.jpg\n"
            "Match 30.800000 40.100000 50.900000 60.400000 index 0 1\n"
            "Matched entry 1 new index 4\n"
            "File name 2.jpg-3.jpg-4.jpg\n"
            "Match 50.200000 60.800000 70.300000 80.600000 index 0 1\n"
            "Matched entry 1 new index 5\n"
            "Point number 0 image 1 renumbered image 10 x value 200.000000 y value 200.000000 "
            "chainlength 3\n"
            "Point number 0 image 2 renumbered image 12 x value 300.000000 y value 300.000000 "
            "chainlength 3\n"
            "Point number 0 image 3 renumbered image 14 x value 400.000000 y value 400.000000 "
            "chainlength 3\n"
            "Point number 1 image 1 renumbered image 10 x value 10.400000 y value 20.600000 "
            "chainlength 5\n"
            "Point number 1 image 2 renumbered image 12 x value 30.300000 y value 40.700000 "
            "chainlength 5\n"
            "Point number 1 image 3 renumbered image 14 x value 50.600000 y value 60.200000 "
            "chainlength 5\n"
            "Point number 1 image 4 renumbered image 4 x value 70.600000 y value 80.300000 "
            "chainlength 5\n"
            "Point number 1 image 5 renumbered image 5 x value 90.100000 y value 100.900000 "
            "chainlength 5\n"
            "Histo index 3 entry 1\n"
            "Histo index 5 entry 1\n");
  // Reversed: position p takes the entry of position 6 - p; the short chain
  // uses no number; reversed short lines show the first observations.
  EXPECT_EQ(file("out"),
            "mp 5 1 10.4 20.6\r\n"
            "mp 4 1 30.3 40.7\r\n"
            "mp 14 1 50.6 60.2\r\n"
            "mp 12 1 70.6 80.3\r\n"
            "mp 10 1 90.1 100.9\r\n");
}

class VandrelAveragedTrack : public VandrelCli {
 protected:
  void SetUp() override {
    put("im0.jpg-im1.jpg-im2.jpg.txt", "0.5 0.5 10.4 20.6 30.8 40.2\n");
    put("im1.jpg-im2.jpg-im3.jpg.txt", "10.9 20.1 30.3 40.7 50.5 60.5\n");
  }
  const std::string run_lines =
      "Preamble im postamble .txt start number 0 end number 3 output file tracks.txt "
      "minimum_disparity 5\n"
      "File name im0.jpg-im1.jpg-im2.jpg.txt\n"
      "File name im1.jpg-im2.jpg-im3.jpg.txt\n"
      "Match 10.900000 20.100000 30.300000 40.700000 index 0 0\n"
      "Matched entry 0 new index 4\n"
      "Point number 0 image 1 renumbered image 1 x value 0.500000 y value 0.500000 chainlength 4\n"
      "Point number 0 image 2 renumbered image 2 x value 10.400000 y value 20.600000 chainlength "
      "4\n"
      "Point number 0 image 3 renumbered image 3 x value 30.800000 y value 40.200000 chainlength "
      "4\n"
      "Point number 0 image 4 renumbered image 4 x value 50.500000 y value 60.500000 chainlength "
      "4\n"
      "Histo index 4 entry 1\n";
};

TEST_F(VandrelAveragedTrack, ShortFormShowsTheAveragedPositions) {
  RunResult r = run({"-p", "im", "-o", ".txt", "-s", "0", "-e", "3", "-f", "tracks.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out, "Arg count 11\n" + run_lines);
  // 10.4 re-observed once as 10 averages to 10.2; 30.8 seen as 30 once more
  // gives 30.4.
  EXPECT_EQ(file("tracks.txt"),
            "mp 1 1 0.5 0.5\r\nmp 2 1 10.2 20.3\r\nmp 3 1 30.4 40.1\r\nmp 4 1 50.5 60.5\r\n");
}

TEST_F(VandrelAveragedTrack, AnyFirstCharacterSelectsTheLongForm) {
  RunResult r = run({"-p", "im", "-o", ".txt", "-s", "0", "xb", "-e", "3", "-f", "tracks.txt"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out, "Arg count 12\nLong form output file\n" + run_lines);
  EXPECT_EQ(file("tracks.txt"),
            "mp 1 1 0.500000 0.500000\r\nmp 2 1 10.400000 20.600000\r\n"
            "mp 3 1 30.800000 40.200000\r\nmp 4 1 50.500000 60.500000\r\n");
}

TEST_F(VandrelCli, ReverseNumberingOverTenImages) {
  put_moving_point(0, 7);
  RunResult r = run({"-s", "0", "-e", "9", "-r", "-a", "100", "-f", "out"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Arg count 10\nReverse flag\nImage offset 100\n"
            "Preamble  postamble  start number 0 end number 9 output file out minimum_disparity 5\n"
            "File name 0.jpg-1.jpg-2.jpg\n"
            "File name 1.jpg-2.jpg-3.jpg\n"
            "Match 20.500000 5.000000 30.500000 5.000000 index 0 0\nMatched entry 0 new index 4\n"
            "File name 2.jpg-3.jpg-4.jpg\n"
            "Match 30.500000 5.000000 40.500000 5.000000 index 0 0\nMatched entry 0 new index 5\n"
            "File name 3.jpg-4.jpg-5.jpg\n"
            "Match 40.500000 5.000000 50.500000 5.000000 index 0 0\nMatched entry 0 new index 6\n"
            "File name 4.jpg-5.jpg-6.jpg\n"
            "Match 50.500000 5.000000 60.500000 5.000000 index 0 0\nMatched entry 0 new index 7\n"
            "File name 5.jpg-6.jpg-7.jpg\n"
            "Match 60.500000 5.000000 70.500000 5.000000 index 0 0\nMatched entry 0 new index 8\n"
            "File name 6.jpg-7.jpg-8.jpg\n"
            "Match 70.500000 5.000000 80.500000 5.000000 index 0 0\nMatched entry 0 new index 9\n"
            "File name 7.jpg-8.jpg-9.jpg\n"
            "Match 80.500000 5.000000 90.500000 5.000000 index 0 0\nMatched entry 0 new index 10\n"
            "Point number 0 image 1 renumbered image 101 x value 10.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 2 renumbered image 102 x value 20.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 3 renumbered image 103 x value 30.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 4 renumbered image 104 x value 40.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 5 renumbered image 105 x value 50.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 6 renumbered image 106 x value 60.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 7 renumbered image 107 x value 70.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 8 renumbered image 108 x value 80.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 9 renumbered image 109 x value 90.500000 y value 5.000000 chainlength 10\n"
            "Point number 0 image 10 renumbered image 110 x value 100.500000 y value 5.000000 chainlength 10\n"
            "Histo index 10 entry 1\n");
  EXPECT_EQ(file("out"),
            "mp 110 1 10.5 5.0\r\nmp 109 1 20.5 5.0\r\nmp 108 1 30.5 5.0\r\nmp 107 1 40.5 5.0\r\n"
            "mp 106 1 50.5 5.0\r\nmp 105 1 60.5 5.0\r\nmp 104 1 70.5 5.0\r\nmp 103 1 80.5 5.0\r\n"
            "mp 102 1 90.5 5.0\r\nmp 101 1 100.5 5.0\r\n");
}

class VandrelDividedOutput : public VandrelCli {
 protected:
  // Six images whose positions are renumbered 48, 40, 12, 9, 10, 7.
  RunResult run_divided(const std::string &divide_count) {
    put_moving_point(0, 3);
    return run({"-s", "0", "-e", "5", "-n", "48", "40", "12", "9", "10", "7", "-q", divide_count,
                "-f", "out"});
  }
  const std::string run_lines =
      "Preamble  postamble  start number 0 end number 5 output file out minimum_disparity 5\n"
      "File name 0.jpg-1.jpg-2.jpg\n"
      "File name 1.jpg-2.jpg-3.jpg\n"
      "Match 20.500000 5.000000 30.500000 5.000000 index 0 0\nMatched entry 0 new index 4\n"
      "File name 2.jpg-3.jpg-4.jpg\n"
      "Match 30.500000 5.000000 40.500000 5.000000 index 0 0\nMatched entry 0 new index 5\n"
      "File name 3.jpg-4.jpg-5.jpg\n"
      "Match 40.500000 5.000000 50.500000 5.000000 index 0 0\nMatched entry 0 new index 6\n"
      "Point number 0 image 1 renumbered image 48 x value 10.500000 y value 5.000000 chainlength 6\n"
      "Point number 0 image 2 renumbered image 40 x value 20.500000 y value 5.000000 chainlength 6\n"
      "Point number 0 image 3 renumbered image 12 x value 30.500000 y value 5.000000 chainlength 6\n"
      "Point number 0 image 4 renumbered image 9 x value 40.500000 y value 5.000000 chainlength 6\n"
      "Point number 0 image 5 renumbered image 10 x value 50.500000 y value 5.000000 chainlength 6\n"
      "Point number 0 image 6 renumbered image 7 x value 60.500000 y value 5.000000 chainlength 6\n";
  std::string echo(int divide_count) {
    return "Arg count 16\n"
           "argument 48\nImage number 1 new number 48 argc 6\n"
           "argument 40\nImage number 2 new number 40 argc 7\n"
           "argument 12\nImage number 3 new number 12 argc 8\n"
           "argument 9\nImage number 4 new number 9 argc 9\n"
           "argument 10\nImage number 5 new number 10 argc 10\n"
           "argument 7\nImage number 6 new number 7 argc 11\n"
           "Divide count " +
           std::to_string(divide_count) + "\n";
  }
};

TEST_F(VandrelDividedOutput, SixteenWritesSixFilesCoarseSpacingFirst) {
  RunResult r = run_divided("16");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out, echo(16) + run_lines +
                       "Opening filename out-a\nOpening filename out-b\nOpening filename out-c\n"
                       "Opening filename out-d\nOpening filename out-e\nOpening filename out-f\n"
                       "Histo index 6 entry 1\n");
  EXPECT_EQ(file("out-a"), "mp 48 1 10.5 5.0\r\n");
  EXPECT_EQ(file("out-b"), "mp 40 1 20.5 5.0\r\n");
  EXPECT_EQ(file("out-c"), "mp 12 1 30.5 5.0\r\n");
  EXPECT_EQ(file("out-d"), "mp 9 1 40.5 5.0\r\n");
  EXPECT_EQ(file("out-e"), "mp 10 1 50.5 5.0\r\n");
  EXPECT_EQ(file("out-f"), "mp 7 1 60.5 5.0\r\n");
  EXPECT_FALSE(exists("out-g"));
  EXPECT_FALSE(exists("out"));
}

TEST_F(VandrelDividedOutput, SevenWritesFourFiles) {
  RunResult r = run_divided("7");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, echo(7) + run_lines +
                       "Opening filename out-a\nOpening filename out-b\nOpening filename out-c\n"
                       "Opening filename out-d\nHisto index 6 entry 1\n");
  EXPECT_EQ(file("out-a"), "mp 7 1 60.5 5.0\r\n");
  EXPECT_EQ(file("out-b"), "mp 48 1 10.5 5.0\r\nmp 12 1 30.5 5.0\r\nmp 9 1 40.5 5.0\r\n");
  EXPECT_EQ(file("out-c"), "mp 40 1 20.5 5.0\r\nmp 10 1 50.5 5.0\r\n");
  bool ok = false;
  EXPECT_EQ(qortest::read_file(dir.file("out-d"), &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_FALSE(exists("out-e"));
}

TEST_F(VandrelDividedOutput, OneWritesOneFileWithEveryPoint) {
  RunResult r = run_divided("1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, echo(1) + run_lines + "Opening filename out-a\nHisto index 6 entry 1\n");
  EXPECT_EQ(file("out-a"),
            "mp 48 1 10.5 5.0\r\nmp 40 1 20.5 5.0\r\nmp 12 1 30.5 5.0\r\nmp 9 1 40.5 5.0\r\n"
            "mp 10 1 50.5 5.0\r\nmp 7 1 60.5 5.0\r\n");
  EXPECT_FALSE(exists("out-b"));
}

TEST_F(VandrelDividedOutput, ANegativeCountWritesNoFile) {
  RunResult r = run_divided("-3");
  // -q takes the next argument as its value even though it begins with "-".
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, echo(-3) + run_lines + "Histo index 6 entry 1\n");
  EXPECT_FALSE(exists("out"));
  EXPECT_FALSE(exists("out-a"));
}

TEST_F(VandrelDividedOutput, MoreThanTwentySixFilesAreRefusedBeforeAnyWork) {
  RunResult r = run_divided("20971520");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, echo(20971520));
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "Divide count 20971520 needs 27 output files; at most 26 (-a to -z) are "
                       "possible\n");
  EXPECT_FALSE(exists("out-a"));
  // Half that count needs exactly 26 files, the last one "-z".
  r = run_divided("10485760");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(file("out-u"), "mp 10 1 50.5 5.0\r\n");   // divisor 10
  EXPECT_EQ(file("out-v"), "");                       // divisor 5
  EXPECT_EQ(file("out-w"), "mp 48 1 10.5 5.0\r\nmp 12 1 30.5 5.0\r\n");  // divisor 4
  EXPECT_EQ(file("out-z"), "mp 7 1 60.5 5.0\r\n");    // divisor 1
}

TEST_F(VandrelCli, AMissingTripletFileStopsTheRun) {
  put("0.jpg-1.jpg-2.jpg", "0 0 10 10 20 20\n");
  RunResult r = run({"-s", "0", "-e", "3", "-f", "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kBanner);
  EXPECT_EQ(r.out,
            "Arg count 7\n"
            "Preamble  postamble  start number 0 end number 3 output file out minimum_disparity 5\n"
            "File name 0.jpg-1.jpg-2.jpg\n"
            "File name 1.jpg-2.jpg-3.jpg\n"
            "Open failed\n");
  EXPECT_FALSE(exists("out"));
}

TEST_F(VandrelCli, AnUnopenableOutputFileStopsTheRun) {
  RunResult r = run({"-s", "3", "-e", "4", "-f", "no/such/out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Arg count 7\n"
            "Preamble  postamble  start number 3 end number 4 output file no/such/out "
            "minimum_disparity 5\n"
            "Open failed\n");
}

}  // namespace
