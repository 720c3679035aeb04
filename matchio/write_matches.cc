// Writers of support-match and filtered-match files.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "matchio.h"

namespace {

// Opens base + suffix for writing. The name is built without a length limit.
// A file that cannot be opened ends the process with status 1.
FILE *open_output(const char *base, const char *suffix, std::string *name) {
  *name = std::string(base) + suffix;
  FILE *f = std::fopen(name->c_str(), "w");
  if (!f) {
    std::printf("can't open %s\n", name->c_str());
    std::exit(1);
  }
  return f;
}

// Closes an output file. A file that could not be written completely (a full
// disk, for one) is removed rather than left half-written, and the process
// ends with status 1 as for a file that cannot be opened.
void close_output(FILE *f, const std::string &name) {
  const bool failed = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || failed) {
    std::remove(name.c_str());
    std::printf("can't write %s\n", name.c_str());
    std::exit(1);
  }
}

// One output line in the triplet file's own column order, or a pair line
// when the middle position is absent.
void write_match_line(FILE *f, const MatchRecord &r) {
  if (point_absent(r.middle))
    std::fprintf(f, "%f %f %f %f\n", r.first.x, r.first.y, r.last.x, r.last.y);
  else
    std::fprintf(f, "%f %f %f %f %f %f\n", r.first.x, r.first.y, r.middle.x, r.middle.y, r.last.x,
                 r.last.y);
}

// Selection of the filtered writers: the score must lie strictly below
// median x scale; a score equal to it is not kept.
bool score_selected(double score, double median, double scale) { return score < median * scale; }

}  // namespace

void write_support_matches(const MatchRecord *records, int count, const int32_t *flags,
                           const char *base) {
  std::string name;
  FILE *f = open_output(base, ".matches", &name);
  std::printf("Writing %d support matches %s\n", count, name.c_str());
  for (int i = 0; i < count; ++i)
    if (flags[i] != 0) write_match_line(f, records[i]);
  close_output(f, name);
}

void write_filtered_matches(const MatchRecord *records, int count, const double *scores,
                            double median, double scale, const char *base) {
  std::string name;
  FILE *f = open_output(base, ".filtered", &name);
  std::printf("Writing matches: Scale factor = %lf , median = %lf\n", scale, median);
  for (int i = 0; i < count; ++i)
    if (score_selected(scores[i], median, scale)) write_match_line(f, records[i]);
  close_output(f, name);
}

void write_filtered_sides(const MatchRecord *records, int count, const double *scores,
                          double median, double scale, const char *base) {
  std::string name;
  FILE *f = open_output(base, ".L.filtered", &name);
  for (int i = 0; i < count; ++i)
    if (score_selected(scores[i], median, scale))
      std::fprintf(f, "%f %f \n", records[i].first.x, records[i].first.y);
  close_output(f, name);

  f = open_output(base, ".R.filtered", &name);
  std::printf("Writing matches: Scale factor = %lf , median = %lf\n", scale, median);
  for (int i = 0; i < count; ++i)
    if (score_selected(scores[i], median, scale))
      std::fprintf(f, "%f %f \n", records[i].last.x, records[i].last.y);
  close_output(f, name);
}
