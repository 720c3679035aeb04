// Triplet files of an image sequence: the name of the file that holds the
// triplets of three consecutive images, and the reader that loads one such
// file, dropping triplets whose consecutive positions lie too close together.
#pragma once

#include <string>
#include <vector>

#include "chaining_events.h"
#include "status.h"

#include "track_settings.h"

// An image position in pixels.
struct ImagePoint {
  double x;
  double y;
};

// One scene point seen in three consecutive images.
struct Triplet {
  ImagePoint first;
  ImagePoint middle;
  ImagePoint last;
};

// The kept triplets of one file, in file order; reused for every file.
struct TripletBuffer {
  std::vector<Triplet> triplets;
  std::string text;  // working storage: the file's text
};

// sqrt((q.x - p.x)^2 + (q.y - p.y)^2).
double point_distance(ImagePoint p, ImagePoint q);

// True when the first and middle, or the middle and last, positions of the
// triplet lie at most `minimum_disparity` pixels apart: such a triplet is
// dropped. The second distance is looked at only when the first one passes.
bool disparity_too_small(const Triplet &t, int minimum_disparity);

// Name of the triplet file for the images first, first + 1, first + 2:
// preamble, number, ".", extension, "-" three times over, then the postamble,
// e.g. "seq7.jpg-seq8.jpg-seq9.jpg.txt".
std::string build_triplet_name(const TrackSettings &settings, int first);

// Reads the triplet file `name` into `buffer` (replacing what it held).
// Every line is one triplet of six numbers x1 y1 x2 y2 x3 y3; blank lines and
// lines with fewer than six numbers are skipped, anything after the sixth
// number is ignored. A triplet whose first and middle, or middle and last,
// positions are at most `minimum_disparity` pixels apart is dropped, and
// `events` (when given) hears of it. Status::cannot_open when the file cannot
// be opened, Status::out_of_memory when its text does not fit in memory;
// std::bad_alloc when the triplets do not.
Status read_triplets(const std::string &name, int minimum_disparity, TripletBuffer *buffer,
                     ChainingEvents *events = nullptr);
