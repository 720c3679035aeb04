// Each described out-of-memory path of ostrel and pelmix, reached by making
// the one allocation behind it fail: the program runs with failing_malloc
// preloaded, which refuses every request of one exact size (the sizes
// follow from the number of matches in the input). The message, the exit
// status and the files written must be the described ones. Skipped in
// sanitizer builds, whose allocator cannot be replaced this way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli_util.h"

namespace {

const size_t kRecordBytes = 72;  // a MatchRecord: three positions of two doubles and an int32

bool ends_with(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class AllocationFailure : public testing::Test {
 protected:
  void SetUp() override {
    if (QOR_PROGRAMS_SANITIZED) GTEST_SKIP() << "sanitizer build: the allocator cannot be preloaded";
    bool ok = false;
    qortest::write_file(dir_.file("t.txt"), qortest::read_file(std::string(QOR_EXAMPLES) + "/scene/triplets.txt", &ok));
    ASSERT_TRUE(ok);
    qortest::write_file(dir_.file("p.txt"), qortest::read_file(std::string(QOR_EXAMPLES) + "/scene/pairs.txt", &ok));
    ASSERT_TRUE(ok);
  }

  // Runs `program` with allocations of `failing` ("malloc:<bytes>" etc.)
  // refused; an empty `failing` runs it normally.
  qortest::RunResult run(const std::string &program, const std::vector<std::string> &args,
                         const std::string &failing) {
    if (!failing.empty()) {
      setenv("LD_PRELOAD", QOR_FAILING_MALLOC, 1);
      setenv("QOR_FAIL_ALLOCATION", failing.c_str(), 1);
    }
    qortest::RunResult r = qortest::run_program(qortest::program_path(program), args, dir_.path(), program);
    unsetenv("LD_PRELOAD");
    unsetenv("QOR_FAIL_ALLOCATION");
    return r;
  }

  qortest::TempDir dir_;
};

// The scene's triplet file has 300 lines and its pair file 260.
const size_t kTriplets = 300;
const size_t kPairs = 260;

TEST_F(AllocationFailure, OstrelMatchArray) {
  const auto r = run("ostrel", {"-f", "t.txt", "-n", "30"}, "malloc:" + std::to_string(kTriplets * kRecordBytes));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Match entries in file 300\nError reading file: t.txt");
}

TEST_F(AllocationFailure, OstrelSupportFlags) {
  // The driver's flags are the one calloc of count int32s.
  const auto r = run("ostrel", {"-f", "t.txt", "-n", "30"}, "calloc:" + std::to_string(kTriplets * 4));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Match entries in file 300\nError Allocating memory in compfund");
  EXPECT_FALSE(qortest::file_exists(dir_.file("t.txt.TM")));
}

TEST_F(AllocationFailure, EstimatorScratchFlags) {
  // The estimator's scratch flags (a malloc of the same size) fail: it
  // returns at once, and the run writes the all-zero tensor and an empty
  // support file.
  const auto r = run("ostrel", {"-f", "t.txt", "-n", "30"}, "malloc:" + std::to_string(kTriplets * 4));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Memory Allocation failure! In FMCRS...\n"), std::string::npos) << r.out;
  std::string zero_tensor;
  for (int line = 0; line < 9; ++line)
    zero_tensor += "0.00000000000000000000 0.00000000000000000000 0.00000000000000000000\n";
  EXPECT_EQ(qortest::read_file(dir_.file("t.txt.TM")), zero_tensor);
  bool ok = false;
  EXPECT_EQ(qortest::read_file(dir_.file("t.txt.TM.matches"), &ok), "");
  EXPECT_TRUE(ok);
}

TEST_F(AllocationFailure, EstimatorSupportingMatches) {
  // A normal run tells how many matches support the tensor; the copy of
  // exactly those records is then refused.
  const auto normal = run("ostrel", {"-f", "t.txt", "-n", "30"}, "");
  ASSERT_EQ(normal.status, 0);
  const std::string key = "final actual matches ";
  const size_t at = normal.out.find(key);
  ASSERT_NE(at, std::string::npos);
  const size_t supported = std::strtoul(normal.out.c_str() + at + key.size(), nullptr, 10);
  ASSERT_GT(supported, 0u);
  ASSERT_NE(supported, kTriplets);  // else the match array itself would fail first
  const auto r = run("ostrel", {"-f", "t.txt", "-n", "30"}, "malloc:" + std::to_string(supported * kRecordBytes));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(ends_with(r.out, "Memory Allocation error in tensoramental\n")) << r.out;
}

TEST_F(AllocationFailure, PelmixMatchArray) {
  const auto r = run("pelmix", {"-f", "p.txt"}, "malloc:" + std::to_string(kPairs * kRecordBytes));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Match entries in file 260\nError reading file, no correspondences read!\n");
}

TEST_F(AllocationFailure, PelmixScores) {
  const auto r = run("pelmix", {"-f", "p.txt"}, "malloc:" + std::to_string((kPairs + 1) * 8));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Match entries in file 260\nError allocating memory\n");
}

TEST_F(AllocationFailure, PelmixFilterWorkStorage) {
  // The median work array of count + 2 doubles.
  const auto r = run("pelmix", {"-f", "p.txt", "-z"}, "malloc:" + std::to_string((kPairs + 2) * 8));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "Match entries in file 260\nTotal number of correspondences 260\n"
            "Error allocating memory in compute dispgrad\n");
  EXPECT_FALSE(qortest::file_exists(dir_.file("p.txt.filtered")));
}

}  // namespace
