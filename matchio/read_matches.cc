// Reader of pair and triplet match files.
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "file_util.h"
#include "matchio.h"
#include "parse_number.h"
#include "point_table.h"

namespace {

// Number of lines as a line-by-line read sees them: every newline ends one,
// and text after the last newline is one more.
size_t count_lines(const std::string &text) {
  size_t lines = 0;
  const char *p = text.data();
  const char *end = p + text.size();
  while (p < end) {
    const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    ++lines;
    if (!nl) break;
    p = nl + 1;
  }
  return lines;
}

// The three per-image numbering tables of one read, released on every path.
struct PointTables {
  PointTable first, middle, last;
  ~PointTables() {
    point_table_release(&first);
    point_table_release(&middle);
    point_table_release(&last);
  }
};

}  // namespace

int32_t find_point_index(const MatchRecord *records, int n, double first_x, double first_y,
                         double middle_x, double middle_y, double last_x, double last_y) {
  for (int i = 0; i < n; ++i) {
    const MatchRecord &r = records[i];
    if (first_x != -1.0 && first_y != -1.0 && r.first.x == first_x && r.first.y == first_y)
      return r.first.index;
    if (middle_x != -1.0 && middle_y != -1.0 && r.middle.x == middle_x && r.middle.y == middle_y)
      return r.middle.index;
    if (last_x != -1.0 && last_y != -1.0 && r.last.x == last_x && r.last.y == last_y)
      return r.last.index;
  }
  return -1;
}

Status read_matches(const char *path, std::vector<MatchRecord> *records, int *line_count) {
  records->clear();
  *line_count = -1;
  // The file is taken in whole: lines of any length are one record each, and
  // the count of the lines and the records made from them always agree.
  std::string text;
  const Status read = read_whole_file(path, &text);
  if (read != Status::ok) return read;

  const size_t lines = count_lines(text);
  if (lines > static_cast<size_t>(INT_MAX)) return Status::bad_input;  // more than an int counts
  const int count = static_cast<int>(lines);
  *line_count = count;
  if (count == 0) return Status::empty_input;

  // One block of exactly `count` records.
  std::vector<MatchRecord> out;
  try {
    out.reserve(lines);
    out.resize(lines);
  } catch (const std::bad_alloc &) {
    return Status::out_of_memory;
  }
  PointTables tables;
  if (!point_table_init(&tables.first, lines) || !point_table_init(&tables.middle, lines) ||
      !point_table_init(&tables.last, lines))
    return Status::out_of_memory;

  int32_t first_counter = 0, middle_counter = 0, last_counter = 0;
  // Working values 1..6 persist from line to line: a short line keeps the
  // values of the line before for the numbers it lacks. Before the first
  // line they are 0.
  double v[7] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  char *line = &text[0];
  char *const end = line + text.size();
  for (int i = 0; i < count; ++i) {
    char *nl = static_cast<char *>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
    if (nl) *nl = '\0';  // the last line without a newline ends at the string's NUL
    const int got = parse_numbers(line, &v[1], 6);
    line = nl ? nl + 1 : end;

    MatchRecord &r = out[i];
    r.middle.x = -1.0;
    r.middle.y = -1.0;
    r.middle.index = -1;  // an absent middle has no number
    if (got == 6) {
      r.middle.x = v[3];
      r.middle.y = v[4];
      point_table_number(&tables.middle, out.data(), i, &MatchRecord::middle, &middle_counter);
      v[3] = v[5];
      v[4] = v[6];
    }
    r.first.x = v[1];
    r.first.y = v[2];
    r.last.x = v[3];
    r.last.y = v[4];
    point_table_number(&tables.first, out.data(), i, &MatchRecord::first, &first_counter);
    point_table_number(&tables.last, out.data(), i, &MatchRecord::last, &last_counter);
  }
  records->swap(out);
  return Status::ok;
}
