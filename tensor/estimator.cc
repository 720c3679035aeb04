// Random-sampling estimator, its tensor dispatch, assessment, stop-early
// bound and random generator.
#include "estimator.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "linear.h"
#include "numeric_note.h"
#include "six_point.h"
#include "transfer.h"

namespace {

// ---- Random generator ------------------------------------------------------

struct Congruential {
  int32_t multiplier, increment, modulus;
};
// Products stay below 2^31: 7141 x 259199 + 54773 < 1.86e9.
constexpr Congruential kGen1 = {7141, 54773, 259200};
constexpr Congruential kGen2 = {8121, 28411, 134456};
constexpr Congruential kGen3 = {4561, 51349, 243000};
constexpr double kReciprocal1 = 1.0 / 259200;
constexpr double kReciprocal2 = 1.0 / 134456;
constexpr int kTableSize = 97;

void step(int32_t *s, const Congruential &g) { *s = (g.multiplier * *s + g.increment) % g.modulus; }

// ---- Sampling ----------------------------------------------------------------

// Consecutive failed samples after which sampling ends: far beyond what real
// data reaches, which fails a sample only now and then.
long long failure_bound(int samples) {
  const long long bound = 100LL * samples;
  return bound > 10000 ? bound : 10000;
}

// Draws sample_size distinct matches into sample[] (positions only).
void draw_sample(UniformRandom &random, const MatchRecord *matches, int count, int sample_size,
                 MatchRecord *sample) {
  int drawn[kMaxSampleSize + 2];
  for (int place = 0; place < sample_size; ++place) {
    int c = static_cast<int>(random.next() * count);
    if (c >= count) c = count - 1;  // cannot happen for u < 1; keeps the index in range
    for (int q = 0; q < place;) {
      if (c == drawn[q]) {
        c = (c + 1) % count;
        q = 0;  // compare again from the first drawn index
      } else {
        ++q;
      }
    }
    const MatchRecord &m = matches[c];
    MatchRecord &s = sample[place];
    s.first.x = m.first.x, s.first.y = m.first.y, s.first.index = 0;
    s.middle.x = m.middle.x, s.middle.y = m.middle.y, s.middle.index = 0;
    s.last.x = m.last.x, s.last.y = m.last.y, s.last.index = 0;
    drawn[place] = c;
  }
}

// End of one sample: takes the counter's value, then increments it; sampling
// goes on while the value taken was below N. The increment is made only when
// sampling goes on (the value after the last sample is never used), so the
// counter cannot overflow when N is the largest int32.
bool another_sample(int *counter, int samples) {
  if (*counter >= samples) return false;
  ++*counter;
  return true;
}

// Forwards the lines of the numerical routines to the progress callback.
struct NoteForwarding {
  const EstimationOptions *options;
  const EstimationReport *report;
};

void forward_note(void *context, const char *line) {
  const NoteForwarding *f = static_cast<const NoteForwarding *>(context);
  f->options->progress(f->options->progress_context, EstimationStep::numeric_note, *f->report,
                       line);
}

// The stop-early rule after a sample: with `best` the best score so far,
// sampling ends once the counter has passed the number of samples needed for
// the success probability. Records the end in the report.
bool stop_early_reached(const EstimationOptions &options, int sample_size, double best, int count,
                        int counter, EstimationReport *report) {
  if (!options.stop_early) return false;
  const float bound = samples_needed(static_cast<float>(options.success_probability), sample_size,
                                     static_cast<float>(best / count));
  if (!(static_cast<double>(counter) > static_cast<double>(bound))) return false;
  report->sampling_end = SamplingEnd::stopped_early;
  report->stop_counter = counter;
  return true;
}

void tell(const EstimationOptions &options, EstimationStep step, const EstimationReport &report) {
  if (options.progress != nullptr) options.progress(options.progress_context, step, report, nullptr);
}

}  // namespace

UniformRandom::UniformRandom() {
  s1_ = (54773 - 1) % 259200;
  step(&s1_, kGen1);
  s2_ = s1_ % 134456;
  step(&s1_, kGen1);
  s3_ = s1_ % 243000;
  for (int j = 1; j <= kTableSize; ++j) {
    step(&s1_, kGen1);
    step(&s2_, kGen2);
    table_[j] = (s1_ + s2_ * kReciprocal2) * kReciprocal1;
  }
}

double UniformRandom::next() {
  step(&s1_, kGen1);
  step(&s2_, kGen2);
  step(&s3_, kGen3);
  const int j = 1 + (kTableSize * s3_) / 243000;
  const double value = table_[j];
  table_[j] = (s1_ + s2_ * kReciprocal2) * kReciprocal1;
  return value;
}

float samples_needed(float p, int32_t s, float w) {
  const double bound = std::log(1.0 - p) / std::log(1.0 - std::pow(static_cast<double>(w), s));
  return static_cast<float>(bound);
}

int compute_tensor(TensorMethod method, const MatchRecord *sample, int sample_size,
                   TrifocalTensor *t, const char **failure) {
  switch (method) {
    case TensorMethod::affine:
      return compute_affine_tensor(sample, sample_size, t);
    case TensorMethod::linear:
      return compute_linear_tensor(sample, sample_size, t, failure);
    case TensorMethod::algebraic:
      return compute_constrained_tensor(sample, sample_size, t, 0, failure);
    case TensorMethod::six_point:
      return compute_six_point_tensor(sample, sample_size, t, failure);
  }
  return 0;
}

Assessment assess_tensor(TensorMethod method, const MatchRecord *matches, int count,
                         const TrifocalTensor &tensor, const int32_t *support) {
  double total = 0.0;
  double largest = 0.0;
  int flagged = 0;
  for (int n = 0; n < count; ++n) {
    if (support[n] == 0) continue;
    const TransferDistances d = transfer_distances(method, tensor, matches[n]);
    const double m = (d.d_last + d.d_first + d.d_middle) / 3;
    total += m;
    if (m >= largest) largest = m;
    ++flagged;
  }
  // An empty support set has no error to report: 0 and 0 rather than 0/0.
  Assessment a;
  a.mean = flagged > 0 ? total / flagged : 0.0;
  a.maximum = largest;
  return a;
}

namespace {

// The scoring loop. With Bounded, scoring stops once the tensor cannot beat
// `best` (see score_tensor_bounded).
template <bool Bounded>
double score_matches(const ScoringRule &rule, const MatchRecord *matches, int count,
                     const TrifocalTensor &t, double best, int32_t *flags, int *l2_count,
                     bool *pruned) {
  const double d = rule.distance;
  const TensorMethod method = rule.method;
  const bool l2 = rule.scoring == Scoring::l2;
  std::memset(flags, 0, static_cast<size_t>(count) * sizeof(int32_t));
  double score = 0.0;
  *l2_count = 0;
  // Bounded scoring computes the last-image transfers a block of matches at
  // a time (kept for the matches that follow), which overlaps their
  // eigen-decompositions; values go unused only when scoring stops.
  double block[kTransferBlock];
  int block_start = -kTransferBlock;
  for (int n = 0; n < count; ++n) {
    if (Bounded) {
      // Count scores are integers, exact in a double; L2 sums round, and
      // k additions of at most 1 each can exceed score + k by less than
      // k * 2^-52 of it, far below the margin.
      const double reachable = score + static_cast<double>(count - n);
      if ((l2 ? reachable + reachable * 1e-6 : reachable) <= best) {
        *pruned = true;
        return score;
      }
    }
    const MatchRecord &match = matches[n];
    double d_last;
    if (Bounded && n - block_start < kTransferBlock) {
      d_last = block[n - block_start];
    } else if (Bounded && n + kTransferBlock <= count) {
      transfer_distance_last_block(method, t, &match, block);
      block_start = n;
      d_last = block[0];
    } else {
      d_last = transfer_distance_last(method, t, match);
    }
    if (!(d_last < d)) continue;
    const double d_first = transfer_distance_first(method, t, match);
    if (!(d_first < d)) continue;
    const double d_middle = transfer_distance_middle(method, t, match);
    if (!(d_middle < d)) continue;
    const double m = (d_last + d_first + d_middle) / 3;
    if (l2) {
      score += 1 - (m * m) / (d * d);
      ++*l2_count;
    } else {
      score += 1;
    }
    flags[n] = 1;
  }
  return score;
}

// Magnitude up to which coordinates and tensor entries keep every sum and
// square of a transfer's 3x3 normal matrix finite (products of a coordinate
// pair and an entry, squared, stay below 1e200).
constexpr double kTameMagnitude = 1e30;

bool tame(double v) { return v >= -kTameMagnitude && v <= kTameMagnitude; }

bool tame_matches(const MatchRecord *matches, int count) {
  for (int n = 0; n < count; ++n) {
    const MatchRecord &m = matches[n];
    if (!tame(m.first.x) || !tame(m.first.y) || !tame(m.middle.x) || !tame(m.middle.y) ||
        !tame(m.last.x) || !tame(m.last.y))
      return false;
  }
  return true;
}

bool tame_tensor(const TrifocalTensor &t) {
  for (double v : t.entry)
    if (!tame(v)) return false;
  return true;
}

// ---- Sampling on several threads ---------------------------------------------

// One drawn sample and what a thread made of it.
struct SampleSlot {
  MatchRecord sample[kMaxSampleSize];
  TrifocalTensor tensor;
  int32_t *flags;           // count entries
  const char *failure;      // fatal numerical error of the computation
  double score;
  int l2_count;
  bool computed;            // a tensor was produced
  bool pruned;              // its scoring stopped: it cannot be taken
  bool noted;               // a numerical line was reported: compute it again in order
};

// A batch of slots for the threads to work on; `best` is the best score of
// the samples taken before the batch, so a thread prunes at most as much as
// one thread taking the samples in order would.
struct SampleBatch {
  const EstimationOptions *options;
  const MatchRecord *matches;
  int count;
  bool prune_matches;
  SampleSlot *slots;
  int size;
  double best;
  std::atomic<int> next{0};
};

// Scores the tensor of `slot` as one thread does: pruned where no transfer
// can report a line.
void score_slot(const EstimationOptions &options, const MatchRecord *matches, int count,
                bool prune_matches, double best, SampleSlot *slot) {
  slot->pruned = false;
  slot->l2_count = 0;
  slot->score =
      prune_matches && tame_tensor(slot->tensor)
          ? score_tensor_bounded(options.rule, matches, count, slot->tensor, best, slot->flags,
                                 &slot->l2_count, &slot->pruned)
          : score_tensor(options.rule, matches, count, slot->tensor, slot->flags, &slot->l2_count);
}

// Computes and scores the sample of `slot`, with notes going to the caller's
// sink (or marking the slot, on a thread of the batch).
void process_slot(const EstimationOptions &options, const MatchRecord *matches, int count,
                  bool prune_matches, double best, SampleSlot *slot) {
  slot->failure = nullptr;
  // The affine tensor writes only its own entries: the others stay zero, as
  // in the one working tensor of a single thread.
  slot->tensor = TrifocalTensor{};
  slot->computed = compute_tensor(options.rule.method, slot->sample, options.sample_size,
                                  &slot->tensor, &slot->failure) != 0;
  if (slot->computed && !slot->noted) score_slot(options, matches, count, prune_matches, best, slot);
}

void mark_noted(void *context, const char *) {
  SampleSlot *slot = *static_cast<SampleSlot **>(context);
  if (slot != nullptr) slot->noted = true;
}

// Takes slots of the batch until none is left. The lines of the numerical
// routines are not shown here: they only mark their slot.
void work_on_batch(SampleBatch *batch) {
  SampleSlot *current = nullptr;
  NumericNoteScope notes(mark_noted, &current);
  for (;;) {
    const int i = batch->next.fetch_add(1, std::memory_order_relaxed);
    if (i >= batch->size) break;
    current = &batch->slots[i];
    current->noted = false;
    process_slot(*batch->options, batch->matches, batch->count, batch->prune_matches, batch->best,
                 current);
    current = nullptr;
  }
}

// Threads that wait for a batch, work on it with the calling thread, and
// wait for the next one.
class SampleCrew {
 public:
  // Starts up to `helpers` threads; fewer when the system refuses more.
  explicit SampleCrew(int helpers) {
    for (int n = 0; n < helpers; ++n) {
      try {
        threads_.emplace_back(&SampleCrew::serve, this);
      } catch (...) {
        break;
      }
    }
  }
  ~SampleCrew() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    for (std::thread &t : threads_) t.join();
  }
  SampleCrew(const SampleCrew &) = delete;
  SampleCrew &operator=(const SampleCrew &) = delete;

  int helpers() const { return static_cast<int>(threads_.size()); }

  // Works on the batch with every thread; returns when all of it is done.
  void run(SampleBatch *batch) {
    batch->next.store(0, std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch_ = batch;
      busy_ = static_cast<int>(threads_.size());
      ++generation_;
    }
    wake_.notify_all();
    work_on_batch(batch);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
  }

 private:
  void serve() {
    long long seen = 0;
    for (;;) {
      SampleBatch *batch = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
        if (quit_) return;
        seen = generation_;
        batch = batch_;
      }
      work_on_batch(batch);
      std::lock_guard<std::mutex> lock(mutex_);
      if (--busy_ == 0) done_.notify_one();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  SampleBatch *batch_ = nullptr;
  long long generation_ = 0;
  int busy_ = 0;
  bool quit_ = false;
};

// Runs below this much work (matches x samples) stay on one thread: the
// threads would not pay.
constexpr long long kParallelWork = 50000;

// Samples per thread in a batch: enough that samples of unequal cost (failed
// computations, pruned scoring) even out before the threads meet, within a
// bound on the slots' support flags.
constexpr int kSlotsPerThread = 16;
constexpr long long kSlotFlagBudget = 8 << 20;  // flags of all slots together

int slots_for(int threads, int count) {
  const long long by_memory = kSlotFlagBudget / (count > 0 ? count : 1);
  long long slots = static_cast<long long>(threads) * kSlotsPerThread;
  if (slots > by_memory) slots = by_memory;
  if (slots < 2LL * threads) slots = 2LL * threads;
  return static_cast<int>(slots);
}

int threads_for(const EstimationOptions &options, int count) {
  int threads = options.threads;
  if (threads <= 0) {
    const unsigned cores = std::thread::hardware_concurrency();
    threads = cores > 0 ? static_cast<int>(cores) : 1;
  }
  if (threads > 64) threads = 64;
  const long long samples = options.samples > 0 ? options.samples : 0;
  if (static_cast<long long>(count) * (samples + 1) < kParallelWork) threads = 1;
  return threads;
}

enum class ParallelRun { not_run, sampled, failed };

// The sampling loop of estimate_tensor on several threads (see there). Leaves
// everything alone and returns not_run when the slots cannot be allocated
// or no helper thread starts; failed on a fatal numerical error (report
// status and message set).
ParallelRun sample_in_parallel(const EstimationOptions &options, const MatchRecord *matches,
                               int count, bool prune_matches, int threads,
                               EstimationReport &report, int32_t *support) {
  const int size = slots_for(threads, count);
  std::unique_ptr<SampleSlot[]> slots(new (std::nothrow) SampleSlot[size]);
  int32_t *flags = static_cast<int32_t *>(
      std::malloc(static_cast<size_t>(count) * static_cast<size_t>(size) * sizeof(int32_t)));
  if (!slots || flags == nullptr) {
    std::free(flags);
    return ParallelRun::not_run;
  }
  for (int i = 0; i < size; ++i) slots[i].flags = flags + static_cast<size_t>(i) * count;
  SampleCrew crew(threads - 1);
  if (crew.helpers() == 0) {
    std::free(flags);
    return ParallelRun::not_run;
  }

  UniformRandom random;
  const int sample_size = options.sample_size;
  double best = 0.0;
  int counter = 0;
  const int samples = options.samples;
  const long long max_failures = failure_bound(samples);
  long long failures = 0;
  SampleBatch batch;
  batch.options = &options;
  batch.matches = matches;
  batch.count = count;
  batch.prune_matches = prune_matches;
  batch.slots = slots.get();
  ParallelRun outcome = ParallelRun::sampled;
  bool more = true;
  while (more) {
    // No more samples than the computations still to come: the last batch
    // computes nothing that the loop would throw away unless samples fail.
    const long long needed = static_cast<long long>(samples) - counter + 1;
    batch.size = needed < size ? static_cast<int>(needed > 1 ? needed : 1) : size;
    for (int i = 0; i < batch.size; ++i)
      draw_sample(random, matches, count, sample_size, slots[i].sample);
    batch.best = best;
    crew.run(&batch);
    // Take the results in sample order, exactly as one thread does.
    for (int i = 0; i < batch.size && more; ++i) {
      SampleSlot &slot = slots[i];
      ++report.samples_drawn;
      if (slot.noted) {
        // Again on this thread, its lines going to the caller in order.
        slot.noted = false;
        process_slot(options, matches, count, prune_matches, best, &slot);
      }
      if (!slot.computed) {
        if (slot.failure != nullptr) {
          report.status = Status::numeric_failure;
          report.failure_message = slot.failure;
          outcome = ParallelRun::failed;
          more = false;
          break;
        }
        --counter;  // a failed sample is not counted
        if (++failures >= max_failures) {
          report.sampling_end = SamplingEnd::failure_bound;
          report.failures = failures;
          more = false;
          break;
        }
        tell(options, EstimationStep::sample_taken, report);
        more = another_sample(&counter, samples);
        continue;
      }
      failures = 0;
      ++report.samples_computed;
      if (!slot.pruned && slot.score > best) {
        const int supporting =
            options.rule.scoring == Scoring::l2 ? slot.l2_count : static_cast<int>(slot.score);
        report.best_events.push_back(BestEvent{slot.score, supporting});
        tell(options, EstimationStep::new_best, report);
        best = slot.score;
        report.tensor = slot.tensor;
        std::memcpy(support, slot.flags, static_cast<size_t>(count) * sizeof(int32_t));
      }
      tell(options, EstimationStep::sample_taken, report);
      const bool stop = stop_early_reached(options, sample_size, best, count, counter, &report);
      more = !stop && another_sample(&counter, samples);
    }
  }
  std::free(flags);
  return outcome;
}

}  // namespace

double score_tensor(const ScoringRule &rule, const MatchRecord *matches, int count,
                    const TrifocalTensor &t, int32_t *flags, int *l2_count) {
  bool pruned = false;
  return score_matches<false>(rule, matches, count, t, 0.0, flags, l2_count, &pruned);
}

double score_tensor_bounded(const ScoringRule &rule, const MatchRecord *matches, int count,
                            const TrifocalTensor &t, double best, int32_t *flags, int *l2_count,
                            bool *pruned) {
  *pruned = false;
  return score_matches<true>(rule, matches, count, t, best, flags, l2_count, pruned);
}

EstimationReport estimate_tensor(const EstimationOptions &options, const MatchRecord *matches,
                                 int count, int32_t *support) {
  EstimationReport report;
  report.match_count = count;
  NoteForwarding forwarding = {&options, &report};
  NumericNoteScope notes(options.progress != nullptr ? forward_note : nullptr, &forwarding);
  TrifocalTensor working{};
  TrifocalTensor &tensor = report.tensor;
  const int sample_size = options.sample_size;
  const TensorMethod method = options.rule.method;
  if (sample_size < 1 || sample_size > kMaxSampleSize) {
    report.status = Status::invalid_argument;
    report.sampling_end = SamplingEnd::bad_sample_size;
    tell(options, EstimationStep::sampling_ended, report);
    return report;
  }
  if (count < sample_size) {
    report.sampling_end = SamplingEnd::not_enough_matches;
    tell(options, EstimationStep::sampling_ended, report);
    return report;
  }
  int32_t *flags = static_cast<int32_t *>(std::malloc(static_cast<size_t>(count) * sizeof(int32_t)));
  if (flags == nullptr) {
    report.status = Status::out_of_memory;
    report.sampling_end = SamplingEnd::scratch_failed;
    tell(options, EstimationStep::sampling_ended, report);
    return report;
  }

  const bool prune_matches = tame_matches(matches, count);
  const int threads = threads_for(options, count);
  const ParallelRun parallel =
      threads > 1 ? sample_in_parallel(options, matches, count, prune_matches, threads, report,
                                       support)
                  : ParallelRun::not_run;
  if (parallel == ParallelRun::failed) {
    std::free(flags);
    return report;
  }
  if (parallel == ParallelRun::not_run) {
    UniformRandom random;
    MatchRecord sample[kMaxSampleSize];
    double best = 0.0;
    int counter = 0;
    const int samples = options.samples;
    const long long max_failures = failure_bound(samples);
    long long failures = 0;
    bool stop = false;
    do {
      draw_sample(random, matches, count, sample_size, sample);
      ++report.samples_drawn;
      const char *failure = nullptr;
      if (!compute_tensor(method, sample, sample_size, &working, &failure)) {
        if (failure != nullptr) {
          std::free(flags);
          report.status = Status::numeric_failure;
          report.failure_message = failure;
          return report;
        }
        --counter;  // a failed sample is not counted
        if (++failures >= max_failures) {
          report.sampling_end = SamplingEnd::failure_bound;
          report.failures = failures;
          break;
        }
        tell(options, EstimationStep::sample_taken, report);
        continue;
      }
      failures = 0;
      ++report.samples_computed;
      int l2_count = 0;
      // Scoring may stop early only where the transfers cannot report a line:
      // their eigen-decompositions fail (and say so) only on non-finite or
      // overflowing matrices, which tame inputs cannot produce. Elsewhere every
      // match is scored, so that every such line is reported as before.
      bool pruned = false;
      const double score =
          prune_matches && tame_tensor(working)
              ? score_tensor_bounded(options.rule, matches, count, working, best, flags, &l2_count,
                                     &pruned)
              : score_tensor(options.rule, matches, count, working, flags, &l2_count);
      if (!pruned && score > best) {
        const int supporting = options.rule.scoring == Scoring::l2 ? l2_count : static_cast<int>(score);
        report.best_events.push_back(BestEvent{score, supporting});
        tell(options, EstimationStep::new_best, report);
        best = score;
        tensor = working;
        std::memcpy(support, flags, static_cast<size_t>(count) * sizeof(int32_t));
      }
      tell(options, EstimationStep::sample_taken, report);
      if (stop_early_reached(options, sample_size, best, count, counter, &report)) stop = true;
    } while (!stop && another_sample(&counter, samples));
  }
  std::free(flags);
  tell(options, EstimationStep::sampling_ended, report);

  // Gather the supporting matches.
  int supported = 0;
  for (int n = 0; n < count; ++n)
    if (support[n] != 0) ++supported;
  report.supported = supported;
  tell(options, EstimationStep::supported_counted, report);
  MatchRecord *inliers = nullptr;
  if (supported > 0) {
    inliers = static_cast<MatchRecord *>(std::malloc(static_cast<size_t>(supported) * sizeof(MatchRecord)));
    if (inliers == nullptr) {
      report.status = Status::out_of_memory;
      return report;
    }
    int k = 0;
    for (int n = 0; n < count; ++n)
      if (support[n] != 0) inliers[k++] = matches[n];
  }

  // Error of the best sampled tensor.
  working = tensor;
  tell(options, EstimationStep::assessing_original, report);
  report.original = assess_tensor(method, matches, count, tensor, support);
  tell(options, EstimationStep::original_assessed, report);

  // Refit on all supporting matches; kept only when it lowers the mean error.
  // Without supporting matches there is nothing to refit on.
  if (options.refit && supported > 0) {
    const char *failure = nullptr;
    if (compute_constrained_tensor(inliers, supported, &working, 1, &failure)) {
      const Assessment refit = assess_tensor(method, matches, count, working, support);
      if (refit.mean < report.original.mean) tensor = working;
    } else if (failure != nullptr) {
      std::free(inliers);
      report.status = Status::numeric_failure;
      report.failure_message = failure;
      return report;
    }
  }

  tell(options, EstimationStep::assessing_refit, report);
  report.refit = assess_tensor(method, matches, count, tensor, support);
  tell(options, EstimationStep::refit_assessed, report);
  std::free(inliers);
  return report;
}

Status estimate_tensor(const MatchRecord *matches, int count, const EstimationOptions &options,
                       EstimationReport *report) {
  // The flags and the list of best events come from the heap; a refusal of
  // either is reported as a status.
  try {
    std::vector<int32_t> support(static_cast<size_t>(count > 0 ? count : 1), 0);
    *report = estimate_tensor(options, matches, count, support.data());
    support.resize(static_cast<size_t>(count > 0 ? count : 0));
    report->support.swap(support);
  } catch (const std::bad_alloc &) {
    *report = EstimationReport();
    report->status = Status::out_of_memory;
  }
  return report->status;
}
