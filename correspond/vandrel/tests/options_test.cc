#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

struct Parsed {
  bool ok;
  std::string out;
  TrackSettings settings;
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "vandrel");
  std::vector<char *> argv;
  for (std::string &a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Parsed p;
  CaptureStdout();
  p.ok = parse_command_line(static_cast<int>(args.size()), argv.data(), &p.settings);
  p.out = GetCapturedStdout();
  return p;
}

TEST(VandrelParseCommandLine, Defaults) {
  Parsed p = parse({"-s", "2"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.out, "Arg count 3\n");
  const TrackSettings &s = p.settings;
  EXPECT_EQ(s.preamble, "");
  EXPECT_EQ(s.postamble, "");
  EXPECT_EQ(s.extension, "jpg");
  EXPECT_EQ(s.outputFile, "");
  EXPECT_EQ(s.startNumber, 2);
  EXPECT_EQ(s.endNumber, 0);
  EXPECT_EQ(s.imageOffset, 0);
  EXPECT_EQ(s.minimumDisparity, 5);
  EXPECT_EQ(s.minimumChainLength, 4);
  EXPECT_EQ(s.divideCount, 0);
  EXPECT_FALSE(s.reverse);
  EXPECT_FALSE(s.longForm);
  for (long long p = 0; p < 300; ++p) EXPECT_EQ(renumbered_position(s, p), p);
}

TEST(VandrelParseCommandLine, TooFewArgumentsPrintNothing) {
  Parsed p = parse({"-b"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.out, "");
}

TEST(VandrelParseCommandLine, EveryOptionWithItsEcho) {
  Parsed p = parse({"-p", "  pre fix", "-o", ".txt", "-x", "tif f", "-f", "out", "-s", "3", "-e",
                    "+12", "-a", "-7", "-d", "2", "-l", "6", "-q", "16", "-b", "-r"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.out,
            "Arg count 23\nImage offset -7\nMinimum chain length 6\nDivide count 16\n"
            "Long form output file\nReverse flag\n");
  const TrackSettings &s = p.settings;
  EXPECT_EQ(s.preamble, "pre");      // first word only
  EXPECT_EQ(s.extension, "tif f");   // the whole argument
  EXPECT_EQ(s.postamble, ".txt");
  EXPECT_EQ(s.outputFile, "out");
  EXPECT_EQ(s.startNumber, 3);
  EXPECT_EQ(s.endNumber, 12);
  EXPECT_EQ(s.imageOffset, -7);
  EXPECT_EQ(s.minimumDisparity, 2);
  EXPECT_EQ(s.minimumChainLength, 6);
  EXPECT_EQ(s.divideCount, 16);
  EXPECT_TRUE(s.longForm);
  EXPECT_TRUE(s.reverse);
}

TEST(VandrelParseCommandLine, NewNumbersUpToTheNextOption) {
  Parsed p = parse({"-n", "10", "12", "14", "-r"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.out,
            "Arg count 6\n"
            "argument 10\nImage number 1 new number 10 argc 2\n"
            "argument 12\nImage number 2 new number 12 argc 3\n"
            "argument 14\nImage number 3 new number 14 argc 4\n"
            "Reverse flag\n");
  EXPECT_TRUE(p.settings.reverse);
  EXPECT_EQ(renumbered_position(p.settings, 0), 0);
  EXPECT_EQ(renumbered_position(p.settings, 1), 10);
  EXPECT_EQ(renumbered_position(p.settings, 2), 12);
  EXPECT_EQ(renumbered_position(p.settings, 3), 14);
  for (long long q = 4; q < 250; ++q) EXPECT_EQ(renumbered_position(p.settings, q), q);
}

TEST(VandrelParseCommandLine, NewNumbersBeyondTwoHundredAndUnreadableOnes) {
  std::vector<std::string> args = {"-n"};
  for (int i = 1; i <= 250; ++i) args.push_back(std::to_string(1000 + i));
  args[5] = "x";  // entry 5 stays 5
  Parsed p = parse(args);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(renumbered_position(p.settings, 4), 1004);
  EXPECT_EQ(renumbered_position(p.settings, 5), 5);
  EXPECT_EQ(renumbered_position(p.settings, 250), 1250);
  EXPECT_EQ(renumbered_position(p.settings, 251), 251);
  EXPECT_NE(p.out.find("argument x\nImage number 5 new number 5 argc 6\n"), std::string::npos);
}

TEST(VandrelParseCommandLine, OnlyTheSecondCharacterCounts) {
  Parsed p = parse({"xb", "+r", "-b"});
  ASSERT_TRUE(p.ok);
  EXPECT_TRUE(p.settings.longForm);
  EXPECT_TRUE(p.settings.reverse);
  EXPECT_EQ(p.out, "Arg count 4\nLong form output file\nReverse flag\nLong form output file\n");
  p = parse({"-same", "7"});  // "s" for the start number
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.settings.startNumber, 7);
}

TEST(VandrelParseCommandLine, WrongLettersMakeTheLineWrong) {
  for (const char *bad : {"-g", "-c", "-t", "-w", "-y", "-z", "-B", "-1", "-", "", "--"}) {
    Parsed p = parse({"-r", bad, "-b"});
    EXPECT_FALSE(p.ok) << "option '" << bad << "'";
    // Parsing stops at the wrong argument.
    EXPECT_EQ(p.out, "Arg count 4\nReverse flag\n") << "option '" << bad << "'";
  }
}

TEST(VandrelParseCommandLine, ValueOptionAtTheEnd) {
  for (const char *opt : {"-p", "-o", "-s", "-e", "-f", "-x", "-d", "-n"}) {
    Parsed p = parse({"-b", opt});
    EXPECT_FALSE(p.ok) << opt;
    EXPECT_EQ(p.out, "Arg count 3\nLong form output file\n") << opt;
  }
  // These three still echo their setting.
  Parsed p = parse({"-b", "-a"});
  EXPECT_FALSE(p.ok);
  EXPECT_EQ(p.out, "Arg count 3\nLong form output file\nImage offset 0\n");
  p = parse({"-b", "-l"});
  EXPECT_EQ(p.out, "Arg count 3\nLong form output file\nMinimum chain length 4\n");
  p = parse({"-b", "-q"});
  EXPECT_EQ(p.out, "Arg count 3\nLong form output file\nDivide count 0\n");
}

TEST(VandrelParseCommandLine, UnreadableValuesKeepTheDefaults) {
  Parsed p = parse({"-l", "many", "-s", "", "-d", "  12x", "-p", "   ", "-e", "99999999999"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.out, "Arg count 11\nMinimum chain length 4\n");
  EXPECT_EQ(p.settings.minimumChainLength, 4);
  EXPECT_EQ(p.settings.startNumber, 0);
  EXPECT_EQ(p.settings.minimumDisparity, 12);
  EXPECT_EQ(p.settings.preamble, "");
  EXPECT_EQ(p.settings.endNumber, 2147483647);  // held at the end of the int range
}

TEST(VandrelParseCommandLine, NewNumbersFollowedByAnOptionSetNothing) {
  Parsed p = parse({"-n", "-b"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.out, "Arg count 3\nLong form output file\n");
  EXPECT_EQ(renumbered_position(p.settings, 1), 1);
}

TEST(VandrelWriteUsage, SixPieces) {
  char *text = nullptr;
  size_t size = 0;
  FILE *f = open_memstream(&text, &size);
  ASSERT_NE(f, nullptr);
  write_usage(f);
  std::fclose(f);
  std::string usage(text, size);
  std::free(text);
  EXPECT_EQ(usage,
            "\nVANDREL USAGE\n\tvandrel -p preamblestring -o postamble string\n"
            "\t-s start number -e end number -f output file [-n a series of new number in image "
            "order] [-b long form output]\n"
            "\t[-r means reverse image order] [-d minimum disparity] \n\t[-a image offset] [-x "
            "image extension] [-l minimum chain length]\n"
            "\t[-q divide count] \n"
            "\tdefault no reverse\n\tminimum disparity 5.0 pixels\n\tjpeg image type\n"
            "\n\n");
}

}  // namespace
