// Settings of one chaining run of vandrel: the names of the sequence's
// triplet files, the minimum disparity, and how the tracks are numbered and
// written.
#pragma once

#include <string>
#include <vector>

// Settings for one run; the program fills them from its command line.
struct TrackSettings {
  std::string preamble;           // -p: leading part of every image name
  std::string postamble;          // -o: trailing part of every triplet file name
  std::string extension = "jpg";  // -x: image name extension inside file names
  std::string outputFile;         // -f: track file; divided output adds "-a", "-b", ...
  int startNumber = 0;            // -s: first image of the sequence
  int endNumber = 0;              // -e: last image of the sequence
  int imageOffset = 0;            // -a: added to every image number written
  int minimumDisparity = 5;       // -d: pixels; closer consecutive positions drop a triplet
  int minimumChainLength = 4;     // -l: shorter chains are not written
  int divideCount = 0;            // -q: 0 one output file, else split by image-number divisors
  bool reverse = false;           // -r: number the images in reverse order
  bool longForm = false;          // -b: raw positions with six decimals
  // Renumbering table, indexed by the position of an image in the sequence
  // (the first image is position 1). -n sets entries 1, 2, 3, ...; every
  // position without an entry here keeps its own number. The table grows with
  // the values given, so there is no limit on their count.
  std::vector<int> newNumbers;
};

// The number that the renumbering table gives the image at `position`.
long long renumbered_position(const TrackSettings &settings, long long position);
