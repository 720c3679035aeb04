// The three programs under valgrind on the bundled examples and on their
// error paths: no memory errors and no leaks (definite, indirect or
// possible), with the program's own exit status unchanged. Skipped when
// valgrind is not installed, and in sanitizer builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_util.h"

namespace {

const char kValgrind[] = "/usr/bin/valgrind";
const int kValgrindErrorStatus = 99;

void copy_file(const std::string &from, const std::string &to) {
  bool ok = false;
  const std::string bytes = qortest::read_file(from, &ok);
  ASSERT_TRUE(ok) << from;
  qortest::write_file(to, bytes);
}

class Valgrind : public testing::Test {
 protected:
  void SetUp() override {
    if (QOR_PROGRAMS_SANITIZED) GTEST_SKIP() << "sanitizer build: valgrind cannot run it";
    if (!qortest::file_exists(kValgrind)) GTEST_SKIP() << "valgrind is not installed";
    const std::string scene = std::string(QOR_EXAMPLES) + "/scene/";
    copy_file(scene + "triplets.txt", dir_.file("t.txt"));
    copy_file(scene + "pairs.txt", dir_.file("p.txt"));
    for (const char *image : {"view1.jpg", "view2.jpg"}) copy_file(scene + image, dir_.file(image));
    for (int i = 1; i <= 4; ++i) {
      const std::string name = "img" + std::to_string(i) + ".jpg-img" + std::to_string(i + 1) +
                               ".jpg-img" + std::to_string(i + 2) + ".jpg.txt";
      copy_file(std::string(QOR_EXAMPLES) + "/sequence/" + name, dir_.file(name));
    }
  }

  // Runs `program` under valgrind and expects `status` from the program and
  // no report from valgrind.
  void expect_clean(const std::string &program, const std::vector<std::string> &args, int status) {
    std::vector<std::string> all = {"-q",
                                    "--error-exitcode=" + std::to_string(kValgrindErrorStatus),
                                    "--leak-check=full",
                                    "--show-leak-kinds=definite,indirect,possible",
                                    "--errors-for-leak-kinds=definite,indirect,possible",
                                    qortest::program_path(program)};
    all.insert(all.end(), args.begin(), args.end());
    const qortest::RunResult r = qortest::run_program(kValgrind, all, dir_.path(), program);
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.err.find("=="), std::string::npos) << r.err;
  }

  qortest::TempDir dir_;
};

TEST_F(Valgrind, Ostrel) {
  expect_clean("ostrel", {"-f", "t.txt", "-n", "200"}, 0);
  expect_clean("ostrel", {"-f", "t.txt", "-n", "100", "-a", "-l", "-s", "0.99"}, 0);
  // Annotated copies of the first two images (JPEG reading, drawing, writing).
  expect_clean("ostrel", {"-f", "t.txt", "-n", "50", "-i", "view1.jpg", "-j", "view2.jpg", "-k", "view3.jpg"}, 0);
  expect_clean("ostrel", {"-f", "t.txt", "-n", "20", "-i", "missing.jpg", "-j", "t.txt"}, 0);
  // With the previous tensor of the first run.
  expect_clean("ostrel", {"-f", "t.txt", "-n", "50", "-t", "t.txt", "-e", "5"}, 0);
  expect_clean("ostrel", {"-f"}, 1);                          // usage
  expect_clean("ostrel", {"-f", "missing.txt", "-c"}, 2);     // no match file
  expect_clean("ostrel", {"-f", "t.txt", "-t", "none"}, 1);   // no previous tensor
  expect_clean("ostrel", {"-f", "t.txt", "-n", "10", "-f", "nodir/t.txt"}, 2);
}

TEST_F(Valgrind, Pelmix) {
  expect_clean("pelmix", {"-f", "p.txt", "-z"}, 0);
  expect_clean("pelmix", {"-f", "t.txt", "-m", "2"}, 0);
  expect_clean("pelmix", {"-h", "x"}, 1);
  expect_clean("pelmix", {"-f", "missing.txt"}, 2);
}

TEST_F(Valgrind, Vandrel) {
  const std::vector<std::string> run = {"-p", "img", "-o", ".txt", "-s", "1", "-e", "6", "-f", "tracks"};
  expect_clean("vandrel", run, 0);
  std::vector<std::string> divided = run;
  divided.insert(divided.end(), {"-q", "4", "-b", "-n", "10", "12", "14", "16", "18", "20"});
  expect_clean("vandrel", divided, 0);
  std::vector<std::string> reversed = run;
  reversed.insert(reversed.end(), {"-r", "-l", "3"});
  expect_clean("vandrel", reversed, 0);
  expect_clean("vandrel", {"-p"}, 1);                                  // usage
  expect_clean("vandrel", {"-p", "img", "-s", "1", "-e", "9", "-f", "x"}, 1);  // a file is missing
  expect_clean("vandrel", {"-p", "img", "-o", ".txt", "-s", "1", "-e", "6", "-f", "nodir/x"}, 1);
}

}  // namespace
