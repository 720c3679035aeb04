// The -g / -r stage: which estimations run in which order, what the result
// then holds, and how the caller's faithful estimation can end the stage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "estimator.h"
#include "stage.h"
#include "synthetic_triplets.h"

namespace {

// The caller's side: a faithful estimation and the robust notice, logged in
// the order the stage makes them.
struct Caller {
  const synthetic::TripletSet *set = nullptr;
  std::string log;       // 'r' robust notice, 'f' faithful estimation
  int fail_with = 0;     // nonzero: the faithful estimation returns it
  TrifocalTensor faithful_tensor{};
  std::vector<int32_t> faithful_support;
};

int faithful(void *context, TrifocalTensor *tensor, int32_t *support) {
  Caller &c = *static_cast<Caller *>(context);
  c.log += 'f';
  EstimationOptions o;
  o.samples = 300;
  const int n = static_cast<int>(c.set->matches.size());
  const EstimationReport r = estimate_tensor(o, c.set->matches.data(), n, support);
  *tensor = r.tensor;
  c.faithful_tensor = r.tensor;
  c.faithful_support.assign(support, support + n);
  return c.fail_with;
}

void robust_done(void *context, const StageResult &so_far) {
  Caller &c = *static_cast<Caller *>(context);
  c.log += 'r';
  EXPECT_TRUE(so_far.robust_ran);
  EXPECT_EQ(so_far.faithful_runs, 0);
}

struct StageRun {
  int status = 0;
  StageResult result;
  TrifocalTensor tensor{};
  std::vector<int32_t> support;
};

StageRun run_stage(Caller *caller, bool robust) {
  StageRun run;
  const int n = static_cast<int>(caller->set->matches.size());
  run.support.assign(static_cast<size_t>(n), 0);
  StageOptions o;
  o.robust = robust;
  o.samples = 2000;
  StageCalls calls;
  calls.faithful = faithful;
  calls.robust_done = robust_done;
  calls.context = caller;
  run.status = run_refine_stage(caller->set->matches.data(), n, o, calls, &run.tensor,
                                run.support.data(), &run.result);
  return run;
}

bool same_tensor(const TrifocalTensor &a, const TrifocalTensor &b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(Stage, RefinedRunsHoldTheRefinedResult) {
  const synthetic::TripletSet set = synthetic::projective_set(3, 100, 0.3, 40);
  for (bool robust : {false, true}) {
    Caller c;
    c.set = &set;
    const StageRun run = run_stage(&c, robust);
    ASSERT_EQ(run.status, 0);
    ASSERT_TRUE(run.result.refined) << run.result.report.reason;
    // -g: the faithful estimation once; -r: the robust notice and nothing else.
    EXPECT_EQ(c.log, robust ? "r" : "f");
    EXPECT_EQ(run.result.faithful_runs, robust ? 0 : 1);
    EXPECT_EQ(run.result.robust_ran, robust);
    EXPECT_EQ(run.result.robust_found, robust);
    EXPECT_FALSE(run.result.fell_back);
    EXPECT_TRUE(same_tensor(run.tensor, run.result.report.tensor));
    EXPECT_EQ(run.support, run.result.report.support);
  }
}

TEST(Stage, UnusableInputKeepsTheFaithfulResult) {
  // Gross outliers only: no robust estimate, and too little support to refine.
  const synthetic::TripletSet set = synthetic::projective_set(9, 0, 0.0, 40);
  for (bool robust : {false, true}) {
    Caller c;
    c.set = &set;
    const StageRun run = run_stage(&c, robust);
    ASSERT_EQ(run.status, 0);
    EXPECT_FALSE(run.result.refined);
    EXPECT_STRNE(run.result.report.reason, "");
    EXPECT_EQ(run.result.fell_back, robust);
    if (robust) {
      EXPECT_FALSE(run.result.robust_found);
      EXPECT_STRNE(run.result.robust.reason, "");
    }
    // The notice comes before any faithful estimation, whose last result stands.
    ASSERT_GE(run.result.faithful_runs, 1);
    EXPECT_EQ(c.log, (robust ? "r" : "") + std::string(run.result.faithful_runs, 'f'));
    EXPECT_TRUE(same_tensor(run.tensor, c.faithful_tensor));
    EXPECT_EQ(run.support, c.faithful_support);
  }
}

TEST(Stage, AFailedFaithfulEstimationEndsTheStage) {
  const synthetic::TripletSet set = synthetic::projective_set(3, 100, 0.3, 40);
  Caller c;
  c.set = &set;
  c.fail_with = 5;
  const StageRun run = run_stage(&c, false);
  EXPECT_EQ(run.status, 5);
  EXPECT_EQ(run.result.status, 5);
  EXPECT_EQ(c.log, "f");
  EXPECT_FALSE(run.result.refined);
  EXPECT_TRUE(run.result.report.support.empty());  // no refinement ran
}

}  // namespace
