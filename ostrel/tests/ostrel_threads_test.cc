// ostrel with -p: every thread count, and the default of every core, gives
// the same standard output, standard error, tensor file, support file and
// exit status as one thread, on scenes of every outlier share, pure noise,
// affine scenes, the scoring and sampling options, inputs on which samples
// fail or the transfers report failed decompositions, and 1 to 100,000
// matches.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cli_util.h"
#include "linear.h"
#include "synthetic_triplets.h"
#include "tensor_file.h"

namespace {

using qortest::RunResult;
using qortest::TempDir;

struct Case {
  std::string name;
  std::string matches;              // text of m.txt
  std::vector<std::string> options;  // besides -f m.txt and -p
  bool previous = false;            // write prev.TM from the scene's inliers first
};

struct Outputs {
  RunResult run;
  std::string tensor;
  std::string support;
  bool has_tensor = false;
  bool has_support = false;
};

Outputs run_case(const Case &c, const TrifocalTensor &previous, const std::string &threads) {
  TempDir dir;
  qortest::write_file(dir.file("m.txt"), c.matches);
  if (c.previous) {
    EXPECT_EQ(write_tensor(previous, dir.file("prev.TM")), Status::ok);
  }
  std::vector<std::string> args = {"-f", "m.txt"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  if (!threads.empty()) args.insert(args.end(), {"-p", threads});
  Outputs o;
  o.run = qortest::run_program(qortest::program_path("ostrel"), args, dir.path(), "ostrel");
  o.tensor = qortest::read_file(dir.file("m.txt.TM"), &o.has_tensor);
  o.support = qortest::read_file(dir.file("m.txt.TM.matches"), &o.has_support);
  return o;
}

std::string noise_text(uint64_t seed, int count) {
  scene::Random rnd(seed);
  std::string text;
  for (int n = 0; n < count; ++n) {
    MatchRecord r;
    r.first = synthetic::random_point(rnd);
    r.middle = synthetic::random_point(rnd);
    r.last = synthetic::random_point(rnd);
    text += synthetic::line_of(r);
  }
  return text;
}

// A scene of `total` triplets with `outlier_percent` percent outliers.
std::string scene_text(uint64_t seed, int total, int outlier_percent, double sigma = 0.3) {
  const int outliers = total * outlier_percent / 100;
  return synthetic::file_text(synthetic::projective_set(seed, total - outliers, sigma, outliers));
}

std::vector<Case> cases() {
  std::vector<Case> all;
  for (int percent : {10, 30, 50, 70, 90})
    all.push_back({"outliers" + std::to_string(percent), scene_text(100 + percent, 400, percent),
                   {"-n", "200"}});
  all.push_back({"noise", noise_text(7, 1000), {"-n", "200"}});
  all.push_back({"noise_l2", noise_text(8, 500), {"-n", "200", "-l"}});
  all.push_back({"noise_stop", noise_text(9, 500), {"-s", "0.95", "-n", "300"}});
  const std::string affine = synthetic::file_text(synthetic::affine_set(44, 300, 0.2, 200));
  all.push_back({"affine", affine, {"-a", "-n", "200"}});
  all.push_back({"affine_l2", affine, {"-a", "-l", "-n", "200", "-d", "2"}});
  all.push_back({"affine_data_projective", affine, {"-n", "200"}});
  // Noise under the affine method: the tensor entries outside the affine
  // ones must stay zero on every thread.
  all.push_back({"affine_noise", noise_text(10, 3000), {"-a", "-n", "80", "-d", "3"}});
  const std::string half = scene_text(5, 400, 50);
  all.push_back({"stop_early", half, {"-s", "0.99", "-n", "600"}});
  all.push_back({"stop_early_low", half, {"-s", "0.5", "-n", "600"}});
  all.push_back({"l2", half, {"-l", "-n", "200"}});
  all.push_back({"l2_stop", half, {"-l", "-s", "0.9", "-n", "400"}});
  all.push_back({"no_refit", half, {"-m", "-n", "200"}});
  all.push_back({"previous", half, {"-t", "prev", "-n", "200"}, true});
  all.push_back({"previous_tight", half, {"-t", "prev", "-e", "1", "-n", "200"}, true});
  all.push_back({"n0", scene_text(6, 5000, 40), {"-n", "0"}});
  all.push_back({"n0_small", half, {"-n", "0"}});
  all.push_back({"d0", half, {"-d", "0", "-n", "200"}});
  all.push_back({"d_wide", half, {"-d", "20", "-n", "200"}});
  all.push_back({"d_negative", half, {"-d", "-1", "-n", "200"}});
  all.push_back({"p_unread", half, {"-n", "200", "-p", "x"}});
  all.push_back({"p_zero", half, {"-n", "200", "-p", "0", "-p", "-3"}});
  // Every sample of one repeated triplet fails: the failure bound ends
  // sampling.
  std::string same;
  for (int n = 0; n < 500; ++n) same += "10.0 20.0 30.0 40.0 50.0 60.0\n";
  all.push_back({"all_fail", same, {"-n", "100"}});
  // Half the triplets repeat one point: many samples fail, the rest do not.
  std::string mixed;
  const std::string scene = scene_text(11, 300, 30);
  size_t at = 0;
  for (int n = 0; n < 300; ++n) {
    const size_t end = scene.find('\n', at);
    mixed += scene.substr(at, end + 1 - at);
    mixed += "1.0 1.0 1.0 1.0 1.0 1.0\n1.0 1.0 1.0 1.0 1.0 1.0\n";
    at = end + 1;
  }
  all.push_back({"some_fail", mixed, {"-n", "100"}});
  // A coordinate that is not a number: every scored tensor reports a failed
  // decomposition, and nothing may be pruned.
  all.push_back({"nan", half + "nan 1.0 2.0 3.0 4.0 5.0\n", {"-n", "200"}});
  all.push_back({"huge", half + "1e300 1.0 2.0 3.0 4.0 5.0\n", {"-n", "200"}});
  all.push_back({"one_match", "1 2 3 4 5 6\n", {}});
  all.push_back({"six_matches", scene_text(12, 6, 0), {"-n", "50"}});
  all.push_back({"seven_matches", scene_text(13, 7, 0), {"-n", "50"}});
  all.push_back({"bad_line", half + "1 2 x\n", {"-n", "200"}});
  all.push_back({"big", scene_text(14, 100000, 60), {"-n", "3"}});
  return all;
}

TEST(OstrelThreads, EveryThreadCountGivesTheSameBytes) {
  const std::vector<MatchRecord> inliers = scene::random_scene(5, 8).triplets;
  TrifocalTensor previous;
  ASSERT_NE(compute_linear_tensor(inliers.data(), 8, &previous), 0);
  const std::vector<Case> all = cases();
  ASSERT_GE(all.size(), 30u);
  for (const Case &c : all) {
    const Outputs one = run_case(c, previous, "1");
    EXPECT_NE(one.run.out.size(), 0u) << c.name;
    for (const char *threads : {"2", "3", "8", ""}) {
      const Outputs other = run_case(c, previous, threads);
      const std::string what = c.name + " -p " + threads;
      EXPECT_EQ(other.run.status, one.run.status) << what;
      EXPECT_EQ(other.run.out, one.run.out) << what;
      EXPECT_EQ(other.run.err, one.run.err) << what;
      EXPECT_EQ(other.has_tensor, one.has_tensor) << what;
      EXPECT_EQ(other.tensor, one.tensor) << what;
      EXPECT_EQ(other.has_support, one.has_support) << what;
      EXPECT_EQ(other.support, one.support) << what;
    }
  }
}

}  // namespace
