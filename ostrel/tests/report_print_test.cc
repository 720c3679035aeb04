// The estimation report against the lines ostrel prints from it: every
// "NEW T" line is one best event, in order, and the closing lines carry the
// report's counts and assessments; two estimations in one process give the
// same report, as two runs of the program do.
#include "report_print.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "estimator.h"
#include "synthetic_triplets.h"

namespace {

struct Printed {
  EstimationReport report;
  std::vector<int32_t> support;
  std::string text;
};

Printed estimate_and_print(EstimationOptions options, const std::vector<MatchRecord> &matches) {
  Printed p;
  p.support.assign(matches.size(), 0);
  FILE *out = std::tmpfile();
  EstimationPrinter printer = {out, &options};
  options.progress = print_estimation_step;
  options.progress_context = &printer;
  p.report = estimate_tensor(options, matches.data(), static_cast<int>(matches.size()),
                             p.support.data());
  std::fflush(out);
  std::rewind(out);
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0) p.text.append(buffer, got);
  std::fclose(out);
  return p;
}

std::string format(const char *pattern, double a, double b = 0.0) {
  char line[200];
  std::snprintf(line, sizeof line, pattern, a, b);
  return line;
}

// The text the report stands for, built from its fields alone.
std::string expected_text(const EstimationOptions &options, const EstimationReport &r) {
  std::string text;
  char line[200];
  for (const BestEvent &e : r.best_events) {
    if (options.rule.scoring == Scoring::l2)
      std::snprintf(line, sizeof line, "NEW T: with %lf Score! with %d Matches...\n", e.score, e.count);
    else
      std::snprintf(line, sizeof line, "NEW T: with %d Matches!\n", e.count);
    text += line;
  }
  if (r.sampling_end == SamplingEnd::stopped_early) {
    std::snprintf(line, sizeof line, "Stopped early samples %d prob. success %f\n", r.stop_counter,
                  options.success_probability);
    text += line;
  }
  std::snprintf(line, sizeof line, "Total possible matches %d final actual matches %d\n",
                r.match_count, r.supported);
  text += line;
  text += "\n=== Original assessment ===\n=== Error assessment ===\n";
  text += format("Average distance = %lf pixels\n", r.original.mean);
  text += format("Maximum distance = %lf pixels\n", r.original.maximum);
  text += "\n=== Refit assessment ===\n=== Error assessment ===\n";
  text += format("Average distance = %lf pixels\n", r.refit.mean);
  text += format("Maximum distance = %lf pixels\n", r.refit.maximum);
  return text;
}

bool same_report(const Printed &a, const Printed &b) {
  if (a.report.best_events.size() != b.report.best_events.size()) return false;
  for (size_t n = 0; n < a.report.best_events.size(); ++n)
    if (a.report.best_events[n].score != b.report.best_events[n].score ||
        a.report.best_events[n].count != b.report.best_events[n].count)
      return false;
  return std::memcmp(a.report.tensor.entry, b.report.tensor.entry, sizeof a.report.tensor.entry) == 0 &&
         a.support == b.support && a.report.samples_drawn == b.report.samples_drawn &&
         a.report.sampling_end == b.report.sampling_end && a.report.supported == b.report.supported &&
         a.report.original.mean == b.report.original.mean &&
         a.report.refit.mean == b.report.refit.mean && a.text == b.text;
}

TEST(EstimationReport, PrintedLinesFollowTheReport) {
  const synthetic::TripletSet set = synthetic::projective_set(21, 60, 0.3, 40);
  for (Scoring scoring : {Scoring::count, Scoring::l2}) {
    EstimationOptions options;
    options.rule.scoring = scoring;
    options.samples = 60;
    const Printed p = estimate_and_print(options, set.matches);
    EXPECT_EQ(p.report.status, Status::ok);
    EXPECT_EQ(p.report.sampling_end, SamplingEnd::completed);
    EXPECT_GE(p.report.samples_drawn, 61);
    ASSERT_FALSE(p.report.best_events.empty());
    for (size_t n = 1; n < p.report.best_events.size(); ++n)
      EXPECT_GT(p.report.best_events[n].score, p.report.best_events[n - 1].score);
    EXPECT_EQ(p.report.supported, p.report.best_events.back().count);
    EXPECT_EQ(p.text, expected_text(options, p.report));
  }
}

TEST(EstimationReport, StopEarlyIsReportedWithItsCounter) {
  const synthetic::TripletSet set = synthetic::projective_set(22, 40, 0.0, 0);
  EstimationOptions options;
  options.stop_early = true;
  const Printed p = estimate_and_print(options, set.matches);
  EXPECT_EQ(p.report.sampling_end, SamplingEnd::stopped_early);
  EXPECT_EQ(p.text, expected_text(options, p.report));
}

// The generator belongs to one estimation: a second one in the same process
// starts from the seed again.
TEST(EstimationReport, TwoEstimationsInOneProcessAgree) {
  const synthetic::TripletSet set = synthetic::projective_set(23, 50, 0.5, 50);
  EstimationOptions options;
  options.samples = 40;
  const Printed first = estimate_and_print(options, set.matches);
  const Printed second = estimate_and_print(options, set.matches);
  EXPECT_TRUE(same_report(first, second));
}

// A match with a coordinate that is not a number makes the transfer's
// eigen-decomposition fail once for every tensor scored: its line comes once
// per computed tensor (N + 1 of them), also for tensors whose scoring could
// have stopped early, just before the line of that tensor's result.
TEST(EstimationReport, NumericNotesOfEveryScoredTensorArePrinted) {
  synthetic::TripletSet set = synthetic::projective_set(25, 40, 0.3, 20);
  MatchRecord bad = set.matches[0];
  bad.first.x = std::nan("");
  set.matches.push_back(bad);
  EstimationOptions options;
  options.samples = 30;
  const Printed p = estimate_and_print(options, set.matches);
  EXPECT_EQ(p.report.sampling_end, SamplingEnd::completed);
  int notes = 0;
  for (size_t at = p.text.find("Failed Jacobi\n"); at != std::string::npos;
       at = p.text.find("Failed Jacobi\n", at + 1))
    ++notes;
  // One for each of the 31 tensors, and the bad match is flagged by none, so
  // the assessments never transfer it.
  EXPECT_EQ(notes, 31);
  EXPECT_EQ(p.text.rfind("Failed Jacobi\n", p.text.find("Total possible")) + 14,
            p.text.find("Total possible"));
}

// Too few matches: the line without a newline and nothing else; the tensor
// stays zero.
TEST(EstimationReport, NotEnoughMatches) {
  const synthetic::TripletSet set = synthetic::projective_set(24, 5, 0.0, 0);
  const Printed p = estimate_and_print(EstimationOptions(), set.matches);
  EXPECT_EQ(p.report.sampling_end, SamplingEnd::not_enough_matches);
  EXPECT_EQ(p.text, "Not enough correspondences for Random Sampling to occur");
  for (double v : p.report.tensor.entry) EXPECT_EQ(v, 0.0);
}

}  // namespace
