#include "triplet_file.h"

#include <cmath>
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

// Reads the whole file; a read error ends the data where it happened, as a
// line-by-line reader would stop at it.
std::string read_whole_file(FILE *f) {
  std::string data;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, got);
  return data;
}

// Converts up to six numbers from the NUL-terminated text at `line`, each
// after optional white space, as the C library's "%lf" conversion reads them.
// Returns true when all six were found.
bool parse_six_numbers(const char *line, double values[6]) {
  const char *p = line;
  for (int i = 0; i < 6; ++i) {
    char *end = nullptr;
    values[i] = std::strtod(p, &end);
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
  std::string data = read_whole_file(file.get());
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
