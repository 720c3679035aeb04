// Match files: the in-memory correspondence record, the reader of pair and
// triplet files, and the writers of support-match and filtered-match files.
#pragma once
#include <cstdint>

// One image position. An absent position is (-1.0, -1.0) exactly.
struct MatchPoint {
  double x;
  double y;
  int32_t index;  // number of this distinct position within its image
};

// One correspondence. A triplet line x1 y1 x2 y2 x3 y3 gives first=(x1,y1),
// middle=(x2,y2), last=(x3,y3); a pair line x1 y1 x2 y2 gives first=(x1,y1),
// last=(x2,y2) and an absent middle.
struct MatchRecord {
  MatchPoint first;
  MatchPoint last;
  MatchPoint middle;
};

// True when the position is the absent marker (-1.0, -1.0).
inline bool point_absent(const MatchPoint &p) { return p.x == -1.0 && p.y == -1.0; }

// Reads the whole file; hands a malloc'ed array to *records (caller frees it
// with free) and returns the record count; 0 when nothing could be read.
int read_matches(MatchRecord **records, const char *path);

// Searches records[0..n-1] for the first record equal in one member to the
// queried position (a (-1,-1) query is not searched); returns its index or -1.
int32_t find_point_index(const MatchRecord *records, int n, double first_x, double first_y,
                         double middle_x, double middle_y, double last_x, double last_y);

// Writes the records whose flag is non-zero to base + ".matches".
void write_support_matches(const MatchRecord *records, int count, const int32_t *flags,
                           const char *base);
// Writes the records whose score is strictly below median * scale to
// base + ".filtered".
void write_filtered_matches(const MatchRecord *records, int count, const double *scores,
                            double median, double scale, const char *base);
// Writes the first and last positions of the same selection to
// base + ".L.filtered" and base + ".R.filtered".
void write_filtered_sides(const MatchRecord *records, int count, const double *scores,
                          double median, double scale, const char *base);
