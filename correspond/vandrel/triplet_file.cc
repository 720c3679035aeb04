#include "triplet_file.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "options.h"

double point_distance(ImagePoint p, ImagePoint q) {
  double dx = q.x - p.x;
  double dy = q.y - p.y;
  return std::sqrt(dx * dx + dy * dy);
}

std::string build_triplet_name(const TrackSettings &settings, int first) {
  std::string name;
  // The last image number is first + 2; the run loop keeps it inside the
  // int range, and the sums are formed in long long so nothing can overflow.
  for (long long image = first; image <= static_cast<long long>(first) + 2; ++image) {
    if (image != first) name += '-';
    name += settings.preamble;
    name += std::to_string(image);
    name += '.';
    name += settings.extension;
  }
  name += settings.postamble;
  return name;
}

namespace {

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// Reads the whole file into `data`, whose memory is reused from file to
// file; a read error ends the data where it happened, as a line-by-line
// reader would stop at it.
void read_whole_file(FILE *f, std::string *data) {
  data->clear();
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    data->reserve(static_cast<size_t>(st.st_size));
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) data->append(chunk, got);
}

// Exact powers of ten: every one up to 10^22 is a double without rounding.
const double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Converts one number starting at `p` as a "%lf" conversion reads it and
// sets *end after it (to `p` when there is none). Plain decimals of at most
// 15 digits, the common case, are converted here: the digits form an exact
// integer below 2^53 and the power of ten is exact, so the one division is
// correctly rounded and gives the C library's result bit for bit. Anything
// else (exponents, hexadecimal, inf, nan, long digit strings) goes to sscanf
// itself, not to strtod: the two disagree on where some malformed numbers
// end ("1e" and "0x1p" are one number to "%lf", "0x" none at all, and
// "nan(12)" stops before the parenthesis).
double read_number(const char *p, const char **end) {
  const char *start = p;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t digits = 0;
  int count = 0;
  int decimals = 0;
  while (*p >= '0' && *p <= '9') {
    digits = digits * 10 + static_cast<uint64_t>(*p++ - '0');
    ++count;
    if (count > 15) break;
  }
  if (*p == '.' && count <= 15) {
    ++p;
    while (*p >= '0' && *p <= '9') {
      digits = digits * 10 + static_cast<uint64_t>(*p++ - '0');
      ++count;
      ++decimals;
      if (count > 15) break;
    }
  }
  bool plain = count > 0 && count <= 15 && !(*p >= '0' && *p <= '9') && *p != 'e' && *p != 'E' &&
               *p != 'x' && *p != 'X';
  if (!plain) {
    double v = 0.0;
    int used = 0;
    if (std::sscanf(start, "%lf%n", &v, &used) != 1) {
      *end = start;
      return 0.0;
    }
    *end = start + used;
    return v;
  }
  *end = p;
  double v = static_cast<double>(digits) / kPowersOfTen[decimals];
  return negative ? -v : v;
}

// Converts six numbers from the NUL-terminated text at `line`, each after
// optional white space, as the C library's "%lf" conversion reads them.
// Returns true when all six were found.
bool parse_six_numbers(const char *line, double values[6]) {
  const char *p = line;
  for (int i = 0; i < 6; ++i) {
    const char *end = nullptr;
    values[i] = read_number(p, &end);
    if (end == p) return false;
    p = end;
  }
  return true;
}

}  // namespace

bool read_triplets(const std::string &name, int minimum_disparity, TripletBuffer *buffer) {
  buffer->triplets.clear();
  FileHandle file(std::fopen(name.c_str(), "r"));
  if (!file) {
    std::puts("Open failed");
    return false;
  }
  std::string &data = buffer->text;
  read_whole_file(file.get(), &data);
  file.reset();

  // Every line is handled whole, however long it is: the line feed is
  // replaced by a NUL so the number conversion cannot run into the next line.
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    // data.size() is followed by the string's own terminating NUL.
    if (end < data.size()) data[end] = '\0';
    double v[6];
    if (parse_six_numbers(data.c_str() + start, v)) {
      Triplet t{{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}};
      // The second distance is looked at only when the first one passes;
      // either way the triplet is dropped with one message.
      if (point_distance(t.first, t.middle) <= minimum_disparity ||
          point_distance(t.middle, t.last) <= minimum_disparity) {
        std::puts("Too small disparity");
      } else {
        buffer->triplets.push_back(t);
      }
    }
    start = end + 1;
  }
  return true;
}
