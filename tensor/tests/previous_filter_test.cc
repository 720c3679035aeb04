// Tests of the previous-tensor filter: kept matches move to the front in
// order, the distance is exclusive, and the transfer follows the method.
#include "previous_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "linear.h"
#include "synthetic_triplets.h"
#include "transfer.h"

namespace {

struct Filtered {
  int kept;
  std::string out;
};

// Collects what the filter reports for each match as the lines ostrel prints.
void collect(void *context, double mean_distance, int kept) {
  char line[100];
  std::snprintf(line, sizeof line, "D error %f\nActualmatches %d\n", mean_distance, kept);
  *static_cast<std::string *>(context) += line;
}

Filtered filter(TensorMethod method, std::vector<MatchRecord> *matches, const TrifocalTensor &t,
                double distance) {
  Filtered f;
  f.kept = filter_by_previous_tensor(method, matches->data(), static_cast<int>(matches->size()), t,
                                     distance, collect, &f.out);
  return f;
}

std::string expected_lines(const std::vector<double> &errors, const std::vector<int> &kept) {
  std::string text;
  char line[100];
  for (size_t n = 0; n < errors.size(); ++n) {
    std::snprintf(line, sizeof line, "D error %f\nActualmatches %d\n", errors[n], kept[n]);
    text += line;
  }
  return text;
}

double mean_distance(TensorMethod method, const TrifocalTensor &t, const MatchRecord &m) {
  return mean_transfer_distance(transfer_distances(method, t, m));
}

TEST(PreviousFilter, TensorThatFitsAllKeepsEverything) {
  std::vector<MatchRecord> matches = scene::random_scene(9, 10).triplets;
  TrifocalTensor t;
  compute_linear_tensor(matches.data(), 10, &t);
  const TrifocalTensor before = t;
  std::vector<double> errors;
  std::vector<int> kept;
  for (int n = 0; n < 10; ++n) {
    errors.push_back(mean_distance(TensorMethod::six_point, t, matches[n]));
    kept.push_back(n + 1);
  }
  const Filtered f = filter(TensorMethod::six_point, &matches, t, 10.0);
  EXPECT_EQ(f.kept, 10);
  EXPECT_EQ(f.out, expected_lines(errors, kept));
  for (int n = 0; n < 27; ++n) EXPECT_EQ(t[n], before[n]);
}

TEST(PreviousFilter, DroppedMatchesLeaveTheRestInOrder) {
  std::vector<MatchRecord> matches = scene::random_scene(9, 12).triplets;
  TrifocalTensor t;
  compute_linear_tensor(matches.data(), 12, &t);
  std::vector<MatchRecord> three = {matches[0], matches[1], matches[2]};
  three[0].middle.x += 40.0;  // far from the tensor
  three[1].first.index = 11;
  three[2].last.index = 22;
  const std::vector<MatchRecord> input = three;
  const Filtered f = filter(TensorMethod::six_point, &three, t, 10.0);
  EXPECT_EQ(f.kept, 2);
  EXPECT_EQ(f.out, expected_lines({mean_distance(TensorMethod::six_point, t, input[0]), mean_distance(TensorMethod::six_point, t, input[1]),
                                   mean_distance(TensorMethod::six_point, t, input[2])},
                                  {0, 1, 2}));
  for (int n = 0; n < 2; ++n) {
    EXPECT_EQ(std::memcmp(&three[n], &input[n + 1], sizeof(MatchRecord)), 0) << n;
  }
}

// A mean exactly equal to the distance drops the match.
TEST(PreviousFilter, DistanceIsExclusive) {
  std::vector<MatchRecord> matches = scene::random_scene(9, 12).triplets;
  TrifocalTensor t;
  compute_linear_tensor(matches.data(), 12, &t);
  matches[4].last.y += 3.0;
  const double m = mean_distance(TensorMethod::six_point, t, matches[4]);
  ASSERT_GT(m, 0.5);
  std::vector<MatchRecord> copy = matches;
  EXPECT_EQ(filter(TensorMethod::six_point, &copy, t, m).kept, 11);
  copy = matches;
  EXPECT_EQ(filter(TensorMethod::six_point, &copy, t, std::nextafter(m, 1e9)).kept, 12);
}

// Method 0 transfers with the affine relations, whatever the tensor.
TEST(PreviousFilter, AffineMethodUsesTheAffineTransfer) {
  std::vector<MatchRecord> matches = scene::random_scene(9, 6).triplets;
  TrifocalTensor t;
  compute_linear_tensor(matches.data(), 6, &t);
  const TensorMethod affine = TensorMethod::affine;
  std::vector<double> errors;
  std::vector<int> kept;
  int k = 0;
  for (const MatchRecord &m : matches) {
    errors.push_back(mean_distance(TensorMethod::affine, t, m));
    EXPECT_NE(errors.back(), mean_distance(TensorMethod::six_point, t, m));
    if (errors.back() < 1e6) ++k;
    kept.push_back(k);
  }
  const Filtered f = filter(affine, &matches, t, 1e6);
  EXPECT_EQ(f.out, expected_lines(errors, kept));
}

}  // namespace
