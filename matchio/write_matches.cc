// Writers of support-match and filtered-match files.
#include <cstdio>
#include <string>

#include "file_util.h"
#include "fixed_text.h"
#include "matchio.h"

namespace {

// Appends "%f " for `v` at `p`.
char *put_number(char *p, double v) {
  p = put_fixed6(p, v);
  *p++ = ' ';
  return p;
}

// One output line in the triplet file's own column order, or a pair line
// when the middle position is absent: the text of "%f %f %f %f %f %f\n" or
// "%f %f %f %f\n", built in a stack buffer and written at once.
void write_match_line(FILE *f, const MatchRecord &r) {
  char line[6 * kFixed6Room];
  char *p = line;
  p = put_number(p, r.first.x);
  p = put_number(p, r.first.y);
  if (!point_absent(r.middle)) {
    p = put_number(p, r.middle.x);
    p = put_number(p, r.middle.y);
  }
  p = put_number(p, r.last.x);
  p = put_fixed6(p, r.last.y);
  *p++ = '\n';
  std::fwrite(line, 1, static_cast<std::size_t>(p - line), f);
}

// A side file's "%f %f \n" line.
void write_side_line(FILE *f, const MatchPoint &point) {
  char line[2 * kFixed6Room + 1];
  char *p = put_number(line, point.x);
  p = put_number(p, point.y);
  *p++ = '\n';
  std::fwrite(line, 1, static_cast<std::size_t>(p - line), f);
}

// Writes the lines `emit` produces for the records `selected` picks to an
// atomically replaced `path`.
template <typename Selected, typename Emit>
Status write_selected(const std::string &path, int count, Selected selected, Emit emit) {
  OutputFile out;
  const Status opened = out.open(path);
  if (opened != Status::ok) return opened;
  for (int i = 0; i < count; ++i)
    if (selected(i)) emit(out.stream(), i);
  return out.commit();
}

}  // namespace

Status write_support_matches(const MatchRecord *records, int count, const int32_t *flags,
                             const std::string &path) {
  return write_selected(
      path, count, [&](int i) { return flags[i] != 0; },
      [&](FILE *f, int i) { write_match_line(f, records[i]); });
}

Status write_filtered_matches(const MatchRecord *records, int count, const uint8_t *keep,
                              const std::string &path) {
  return write_selected(
      path, count, [&](int i) { return keep[i] != 0; },
      [&](FILE *f, int i) { write_match_line(f, records[i]); });
}

Status write_filtered_side(const MatchRecord *records, int count, const uint8_t *keep,
                           MatchSide side, const std::string &path) {
  return write_selected(path, count, [&](int i) { return keep[i] != 0; },
                        [&](FILE *f, int i) {
                          write_side_line(f, side == MatchSide::first ? records[i].first
                                                                      : records[i].last);
                        });
}
