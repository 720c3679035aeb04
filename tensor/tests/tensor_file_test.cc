// Tests of the tensor file: format, round trip, free line layout, refused
// files. The program's messages for them are tested through the program
// (ostrel_cli_test.cc).
#include "tensor_file.h"

#include <gtest/gtest.h>

#include <string>

#include "cli_util.h"

namespace {

TrifocalTensor counting_tensor() {
  TrifocalTensor t;
  for (int n = 0; n < 27; ++n) t[n] = (n - 13) * 0.125;
  return t;
}

TEST(TensorFile, NineLinesOfThreeNumbersInStorageOrder) {
  qortest::TempDir dir;
  ASSERT_EQ(write_tensor(counting_tensor(), dir.file("m.txt.TM")), Status::ok);
  std::string expected;
  for (int line = 0; line < 9; ++line) {
    char text[200];
    std::snprintf(text, sizeof text, "%.20f %.20f %.20f\n", (3 * line - 13) * 0.125,
                  (3 * line - 12) * 0.125, (3 * line - 11) * 0.125);
    expected += text;
  }
  EXPECT_EQ(qortest::read_file(dir.file("m.txt.TM")), expected);
  EXPECT_EQ(expected.substr(0, 72),
            "-1.62500000000000000000 -1.50000000000000000000 -1.37500000000000000000\n");
}

// Twenty decimals hold every double of magnitude 0.001 or more exactly;
// smaller entries keep an absolute precision of 5e-21.
TEST(TensorFile, RoundTrip) {
  qortest::TempDir dir;
  TrifocalTensor t;
  for (int n = 0; n < 27; ++n) t[n] = (n % 2 ? -1.0 : 1.0) * (0.001 + n * 0.7071067811865476);
  t[5] = 1.0 / 3.0;
  t[20] = 12345.678901234567;
  ASSERT_EQ(write_tensor(t, dir.file("m.TM")), Status::ok);
  TrifocalTensor back{};
  int numbers = 0;
  ASSERT_EQ(read_tensor(&back, dir.file("m.TM"), &numbers), Status::ok);
  EXPECT_EQ(numbers, 27);
  for (int n = 0; n < 27; ++n) EXPECT_EQ(back[n], t[n]) << n;

  t[7] = 1.234567890123456789e-9;
  ASSERT_EQ(write_tensor(t, dir.file("m.TM")), Status::ok);
  ASSERT_EQ(read_tensor(&back, dir.file("m.TM")), Status::ok);
  EXPECT_NEAR(back[7], t[7], 5e-21);
}

TEST(TensorFile, NumbersOnOneLineReadTheSame) {
  qortest::TempDir dir;
  ASSERT_EQ(write_tensor(counting_tensor(), dir.file("nine.TM")), Status::ok);
  std::string one_line = qortest::read_file(dir.file("nine.TM"));
  for (char &c : one_line)
    if (c == '\n') c = ' ';
  qortest::write_file(dir.file("one.TM"), one_line + "\n");
  TrifocalTensor a{}, b{};
  ASSERT_EQ(read_tensor(&a, dir.file("nine.TM")), Status::ok);
  ASSERT_EQ(read_tensor(&b, dir.file("one.TM")), Status::ok);
  for (int n = 0; n < 27; ++n) {
    EXPECT_EQ(a[n], b[n]) << n;
    EXPECT_EQ(a[n], counting_tensor()[n]) << n;
  }
}

// A refused file leaves the tensor alone and says how many numbers it held.
TEST(TensorFile, RefusedFilesLeaveTheTensorAlone) {
  qortest::TempDir dir;
  TrifocalTensor t = counting_tensor();
  int numbers = -1;
  EXPECT_EQ(read_tensor(&t, dir.file("absent.TM"), &numbers), Status::cannot_open);
  qortest::write_file(dir.file("short.TM"), "1 2 3\n4 5\n");
  EXPECT_EQ(read_tensor(&t, dir.file("short.TM"), &numbers), Status::too_few);
  EXPECT_EQ(numbers, 5);
  qortest::write_file(dir.file("text.TM"), "1 2 3\nx 5\n");
  EXPECT_EQ(read_tensor(&t, dir.file("text.TM"), &numbers), Status::bad_input);
  EXPECT_EQ(numbers, 3);
  for (int n = 0; n < 27; ++n) EXPECT_EQ(t[n], counting_tensor()[n]) << n;
  EXPECT_EQ(write_tensor(t, dir.file("no/such/folder.TM")), Status::cannot_open);
}

}  // namespace
