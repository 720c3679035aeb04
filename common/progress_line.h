// One progress line on standard error for the programs' front ends: shown
// only when standard error is a terminal and the run has lasted a second,
// redrawn at most ten times a second, erased before other output and at the
// end. Runs whose standard error is not a terminal never see it.
#pragma once

#include <chrono>

class ProgressLine {
 public:
  // `terminal`: whether standard error is a terminal (the caller asks
  // isatty, so tests can drive the line without one).
  explicit ProgressLine(bool terminal);
  ~ProgressLine() { erase(); }
  ProgressLine(const ProgressLine &) = delete;
  ProgressLine &operator=(const ProgressLine &) = delete;

  // Whether a redraw is due now; cheap when the line is never shown.
  bool due() {
    if (!terminal_) return false;
    return due_at(Clock::now());
  }
  // Draws `text` (one line, no newline) over the previous one.
  void draw(const char *text);
  // Removes the line, if one is shown.
  void erase();

 private:
  using Clock = std::chrono::steady_clock;
  bool due_at(Clock::time_point now);

  const bool terminal_;
  const Clock::time_point start_;
  Clock::time_point last_;
  bool shown_ = false;  // the line is on the terminal now
  bool drawn_ = false;  // it has been drawn at least once
};
