// Writers of support-match and filtered-match files.
#include <cstdio>
#include <string>

#include "file_util.h"
#include "matchio.h"

namespace {

// One output line in the triplet file's own column order, or a pair line
// when the middle position is absent.
void write_match_line(FILE *f, const MatchRecord &r) {
  if (point_absent(r.middle))
    std::fprintf(f, "%f %f %f %f\n", r.first.x, r.first.y, r.last.x, r.last.y);
  else
    std::fprintf(f, "%f %f %f %f %f %f\n", r.first.x, r.first.y, r.middle.x, r.middle.y, r.last.x,
                 r.last.y);
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
                          const MatchPoint &p = side == MatchSide::first ? records[i].first
                                                                         : records[i].last;
                          std::fprintf(f, "%f %f \n", p.x, p.y);
                        });
}
