// Tests of the example data: the generator reproduces the committed files
// byte for byte, the correspondences agree with the cameras as the generator
// claims, and the sequence chains into long tracks with vandrel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "cli_util.h"

namespace {

const std::string kExamples = QOR_EXAMPLES;

const char *const kSceneFiles[] = {"view1.jpg", "view2.jpg", "view3.jpg", "cameras.txt", "triplets.txt",
                                   "pairs.txt"};
const char *const kSequenceFiles[] = {"img1.jpg-img2.jpg-img3.jpg.txt", "img2.jpg-img3.jpg-img4.jpg.txt",
                                      "img3.jpg-img4.jpg-img5.jpg.txt", "img4.jpg-img5.jpg-img6.jpg.txt"};

std::vector<std::vector<double>> read_rows(const std::string &name) {
  std::vector<std::vector<double>> rows;
  std::istringstream text(qortest::read_file(name));
  std::string line;
  while (std::getline(text, line)) {
    std::istringstream numbers(line);
    std::vector<double> row;
    double v;
    while (numbers >> v) row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

struct CameraMatrix {
  double p[3][4];
};

std::vector<CameraMatrix> read_cameras(const std::string &name) {
  std::vector<std::vector<double>> rows = read_rows(name);
  std::vector<CameraMatrix> cameras(rows.size() / 3);
  for (size_t c = 0; c < cameras.size(); ++c)
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 4; ++j) cameras[c].p[i][j] = rows[c * 3 + static_cast<size_t>(i)][static_cast<size_t>(j)];
  return cameras;
}

double det3(const double m[3][3]) {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

// Triangulates the scene point of a match (x y per view) by linear least
// squares over all views and returns the largest reprojection error.
double reprojection_error(const std::vector<CameraMatrix> &cameras, const std::vector<double> &match) {
  // Normal equations N X = r of the rows (x P3 - P1) and (y P3 - P2).
  double n[3][3] = {{0.0}}, r[3] = {0.0};
  for (size_t v = 0; v < cameras.size(); ++v) {
    const double(&p)[3][4] = cameras[v].p;
    for (int k = 0; k < 2; ++k) {
      double coordinate = match[2 * v + static_cast<size_t>(k)];
      double row[4];
      for (int j = 0; j < 4; ++j) row[j] = coordinate * p[2][j] - p[k][j];
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) n[i][j] += row[i] * row[j];
        r[i] -= row[i] * row[3];
      }
    }
  }
  double d = det3(n);
  double x[3];
  for (int c = 0; c < 3; ++c) {  // Cramer's rule
    double m[3][3];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m[i][j] = j == c ? r[i] : n[i][j];
    x[c] = det3(m) / d;
  }
  double worst = 0.0;
  for (size_t v = 0; v < cameras.size(); ++v) {
    const double(&p)[3][4] = cameras[v].p;
    double q[3];
    for (int i = 0; i < 3; ++i) q[i] = p[i][0] * x[0] + p[i][1] * x[1] + p[i][2] * x[2] + p[i][3];
    double ex = q[0] / q[2] - match[2 * v], ey = q[1] / q[2] - match[2 * v + 1];
    worst = std::fmax(worst, std::sqrt(ex * ex + ey * ey));
  }
  return worst;
}

int count_agreeing(const std::vector<CameraMatrix> &cameras, const std::vector<std::vector<double>> &matches) {
  int agreeing = 0;
  for (const std::vector<double> &m : matches)
    if (reprojection_error(cameras, m) < 2.0) ++agreeing;
  return agreeing;
}

// The number that follows `label` in `text`, or -1 when there is none.
int number_after(const std::string &text, const std::string &label) {
  size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  int value = 0, digits = 0;
  for (size_t i = at + label.size(); i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
    value = value * 10 + (text[i] - '0');
  return digits > 0 ? value : -1;
}

// The generator's claim "<file>: <n> <things> (<true> true, <wrong> wrong)".
bool claimed_counts(const std::string &out, const std::string &file, int *true_count, int *wrong_count) {
  size_t line = out.find(file + ": ");
  if (line == std::string::npos) return false;
  std::string rest = out.substr(line, out.find('\n', line) - line);
  int total = number_after(rest, file + ": ");
  *true_count = number_after(rest, "(");
  *wrong_count = number_after(rest, " true, ");
  return total >= 0 && *true_count >= 0 && *wrong_count >= 0 && total == *true_count + *wrong_count;
}

TEST(MakeExamples, RegeneratesTheCommittedFilesByteForByte) {
  qortest::TempDir dir;
  qortest::RunResult r = qortest::run_program(qortest::program_path("make_examples"), {"out"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("random seed 20110211"), std::string::npos) << r.out;
  for (const char *f : kSceneFiles) {
    SCOPED_TRACE(f);
    bool ok = false;
    std::string made = qortest::read_file(dir.file("out/scene/") + f, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(made == qortest::read_file(kExamples + "/scene/" + f));
  }
  for (const char *f : kSequenceFiles) {
    SCOPED_TRACE(f);
    bool ok = false;
    std::string made = qortest::read_file(dir.file("out/sequence/") + f, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(made == qortest::read_file(kExamples + "/sequence/" + f));
  }
}

TEST(MakeExamples, RefusesExtraArguments) {
  qortest::TempDir dir;
  qortest::RunResult r = qortest::run_program(qortest::program_path("make_examples"), {"a", "b"}, dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "usage: make_examples [output folder]\n");
  EXPECT_FALSE(qortest::file_exists(dir.file("a")));
}

TEST(MakeExamples, MatchesAgreeWithTheCamerasAsClaimed) {
  qortest::TempDir dir;
  qortest::RunResult r = qortest::run_program(qortest::program_path("make_examples"), {"out"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<CameraMatrix> cameras = read_cameras(kExamples + "/scene/cameras.txt");
  ASSERT_EQ(cameras.size(), 3u);

  // Triplets: exactly the true ones agree with all three cameras, since each
  // wrong one has a position that is off in some view.
  int true_count = 0, wrong_count = 0;
  ASSERT_TRUE(claimed_counts(r.out, "triplets.txt", &true_count, &wrong_count)) << r.out;
  std::vector<std::vector<double>> triplets = read_rows(kExamples + "/scene/triplets.txt");
  ASSERT_EQ(static_cast<int>(triplets.size()), true_count + wrong_count);
  for (const std::vector<double> &t : triplets) ASSERT_EQ(t.size(), 6u);
  EXPECT_GE(wrong_count * 4, static_cast<int>(triplets.size()));  // at least a quarter wrong
  EXPECT_EQ(count_agreeing(cameras, triplets), true_count);

  // Pairs: every true one agrees with cameras 1 and 2; a wrong position
  // that happens to lie near its epipolar line agrees too.
  ASSERT_TRUE(claimed_counts(r.out, "pairs.txt", &true_count, &wrong_count)) << r.out;
  std::vector<std::vector<double>> pairs = read_rows(kExamples + "/scene/pairs.txt");
  ASSERT_EQ(static_cast<int>(pairs.size()), true_count + wrong_count);
  for (const std::vector<double> &p : pairs) ASSERT_EQ(p.size(), 4u);
  std::vector<CameraMatrix> first_two(cameras.begin(), cameras.begin() + 2);
  int agreeing = count_agreeing(first_two, pairs);
  EXPECT_GE(agreeing, true_count);
  EXPECT_LT(agreeing, true_count + wrong_count / 4);

  // Every position lies inside the 480 x 360 images.
  for (const auto *rows : {&triplets, &pairs})
    for (const std::vector<double> &m : *rows)
      for (size_t i = 0; i < m.size(); i += 2) {
        EXPECT_TRUE(m[i] >= 0.0 && m[i] <= 479.0 && m[i + 1] >= 0.0 && m[i + 1] <= 359.0);
      }
}

TEST(MakeExamples, SequenceChainsIntoTracksOfAllSixImages) {
  qortest::TempDir dir;
  for (const char *f : kSequenceFiles)
    qortest::write_file(dir.file(f), qortest::read_file(kExamples + "/sequence/" + f));
  qortest::RunResult r = qortest::run_program(qortest::program_path("vandrel"),
                                              {"-p", "img", "-o", ".txt", "-s", "1", "-e", "6", "-f", "tracks.txt"},
                                              dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  // The camera moves enough that vandrel drops no triplet for small disparity.
  EXPECT_EQ(r.out.find("Too small disparity"), std::string::npos);
  EXPECT_GE(number_after(r.out, "Histo index 6 entry "), 100) << r.out;
  EXPECT_TRUE(qortest::file_exists(dir.file("tracks.txt")));
}

}  // namespace
