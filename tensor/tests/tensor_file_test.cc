// Tests of the tensor file: format, round trip, free line layout, names.
// Refused files are tested through the program (ostrel_cli_test.cc), since
// they end the process.
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
  write_tensor(counting_tensor(), dir.file("m.txt").c_str());
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
  write_tensor(t, dir.file("m").c_str());
  TrifocalTensor back{};
  testing::internal::CaptureStdout();
  read_tensor(&back, dir.file("m").c_str());
  const std::string echo = testing::internal::GetCapturedStdout();
  for (int n = 0; n < 27; ++n) EXPECT_EQ(back[n], t[n]) << n;
  char expected[300];
  std::snprintf(expected, sizeof expected, "Tensor 0 %f %f %f\nTensor 1 %f %f %f\nTensor 2 %f %f %f\n",
                t[0], t[1], t[2], t[9], t[10], t[11], t[18], t[19], t[20]);
  EXPECT_EQ(echo, expected);

  t[7] = 1.234567890123456789e-9;
  write_tensor(t, dir.file("m").c_str());
  testing::internal::CaptureStdout();
  read_tensor(&back, dir.file("m").c_str());
  testing::internal::GetCapturedStdout();
  EXPECT_NEAR(back[7], t[7], 5e-21);
}

TEST(TensorFile, NumbersOnOneLineReadTheSame) {
  qortest::TempDir dir;
  write_tensor(counting_tensor(), dir.file("nine").c_str());
  std::string one_line = qortest::read_file(dir.file("nine.TM"));
  for (char &c : one_line)
    if (c == '\n') c = ' ';
  qortest::write_file(dir.file("one.TM"), one_line + "\n");
  TrifocalTensor a{}, b{};
  testing::internal::CaptureStdout();
  read_tensor(&a, dir.file("nine").c_str());
  read_tensor(&b, dir.file("one").c_str());
  testing::internal::GetCapturedStdout();
  for (int n = 0; n < 27; ++n) {
    EXPECT_EQ(a[n], b[n]) << n;
    EXPECT_EQ(a[n], counting_tensor()[n]) << n;
  }
}

TEST(TensorFile, NameEndingInTMGetsAnotherTM) {
  qortest::TempDir dir;
  write_tensor(counting_tensor(), dir.file("m.txt.TM").c_str());
  EXPECT_TRUE(qortest::file_exists(dir.file("m.txt.TM.TM")));
  EXPECT_FALSE(qortest::file_exists(dir.file("m.txt.TM")));
}

}  // namespace
