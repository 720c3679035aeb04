// Number formatting for the console listings and the track file. These run
// once per triplet and per chain point, millions of times in a long run, so
// lines are built in a reused string instead of through printf; the text is
// exactly what printf writes for the same conversion.
#pragma once

#include <cstdio>
#include <string>

// Appends v as "%.<decimals>f" writes it (correctly rounded, ties to even,
// "nan"/"inf" with their sign).
void append_fixed(std::string *line, double v, int decimals);

// Appends v as "%d" / "%lld" writes it.
void append_integer(std::string *line, long long v);

// Writes the whole line to `stream`.
inline void put_line(const std::string &line, FILE *stream) {
  std::fwrite(line.data(), 1, line.size(), stream);
}
