#include "triplet_file.h"

#include <cmath>

#include "file_util.h"
#include "parse_number.h"
#include "track_settings.h"

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

bool disparity_too_small(const Triplet &t, int minimum_disparity) {
  return point_distance(t.first, t.middle) <= minimum_disparity ||
         point_distance(t.middle, t.last) <= minimum_disparity;
}

Status read_triplets(const std::string &name, int minimum_disparity, TripletBuffer *buffer,
                     ChainingEvents *events) {
  buffer->triplets.clear();
  std::string &data = buffer->text;
  const Status read = read_whole_file(name.c_str(), &data);
  if (read != Status::ok) return read;

  // Every line is handled whole, however long it is: the line feed is
  // replaced by a NUL so the number conversion cannot run into the next line.
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    // data.size() is followed by the string's own terminating NUL.
    if (end < data.size()) data[end] = '\0';
    double v[6];
    if (parse_numbers(data.c_str() + start, v, 6) == 6) {
      Triplet t{{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}};
      if (disparity_too_small(t, minimum_disparity)) {
        if (events) events->too_small_disparity();
      } else {
        buffer->triplets.push_back(t);
      }
    }
    start = end + 1;
  }
  return Status::ok;
}
