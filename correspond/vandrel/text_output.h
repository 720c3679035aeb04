// Buffered text output for the console listings and the track file. These
// write a line per triplet and per chain point, millions of lines in a long
// run, so numbers are formatted straight into a large buffer instead of
// through printf; the text is exactly what printf writes for the same
// conversion ("%.6f", "%.1f", "%d").
#pragma once

#include <cstddef>
#include <cstdio>

class TextOutput {
 public:
  explicit TextOutput(FILE *stream) : stream_(stream) {}
  // Whatever is still buffered goes to the stream.
  ~TextOutput() { flush_text(this); }
  TextOutput(const TextOutput &) = delete;
  TextOutput &operator=(const TextOutput &) = delete;

  friend void flush_text(TextOutput *out);
  friend void discard_text(TextOutput *out);
  friend void put_text(TextOutput *out, const char *text);
  friend void put_fixed(TextOutput *out, double v, int decimals);
  friend void put_integer(TextOutput *out, long long v);

 private:
  static constexpr std::size_t kCapacity = 1 << 16;
  // Room that a number may need: the largest double has 309 integer digits.
  static constexpr std::size_t kNumberRoom = 400;
  FILE *stream_;
  std::size_t used_ = 0;
  char text_[kCapacity];
};

// Hands the buffered text to the stream. Anything else written to the same
// stream must wait until this is done, to keep the order of the output.
void flush_text(TextOutput *out);

// Forgets the buffered text.
void discard_text(TextOutput *out);

// Appends a NUL-terminated text.
void put_text(TextOutput *out, const char *text);

// Appends v as "%.<decimals>f" writes it: correctly rounded, exact ties to
// even, "nan" and "inf" with their sign.
void put_fixed(TextOutput *out, double v, int decimals);

// Appends v as "%d" / "%lld" writes it.
void put_integer(TextOutput *out, long long v);
