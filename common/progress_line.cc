#include "progress_line.h"

#include <cstdio>

ProgressLine::ProgressLine(bool terminal) : terminal_(terminal), start_(Clock::now()) {}

bool ProgressLine::due_at(Clock::time_point now) {
  if (now - start_ < std::chrono::seconds(1)) return false;
  if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return false;
  last_ = now;
  return true;
}

void ProgressLine::draw(const char *text) {
  std::fprintf(stderr, "\r%s\033[K", text);
  shown_ = drawn_ = true;
}

void ProgressLine::erase() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  shown_ = false;
}
