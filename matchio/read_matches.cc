// Reader of pair and triplet match files.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "matchio.h"
#include "point_table.h"

namespace {

// The whole content of a file, NUL-terminated, in one malloc'ed block.
struct FileText {
  char *data = nullptr;
  size_t size = 0;
  ~FileText() { std::free(data); }
};

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};

// Reads the rest of `f` into `text`. A read error ends the text where it
// occurred, as it would end a line-by-line read. False when memory runs out.
bool read_whole_file(FILE *f, FileText *text) {
  size_t room = 1 << 16;
  char *buf = static_cast<char *>(std::malloc(room));
  if (!buf) return false;
  size_t size = 0;
  for (;;) {
    if (room - size < 2) {
      if (room > SIZE_MAX / 2) {
        std::free(buf);
        return false;
      }
      char *bigger = static_cast<char *>(std::realloc(buf, room * 2));
      if (!bigger) {
        std::free(buf);
        return false;
      }
      buf = bigger;
      room *= 2;
    }
    const size_t got = std::fread(buf + size, 1, room - size - 1, f);
    size += got;
    if (got == 0) break;
  }
  buf[size] = '\0';
  text->data = buf;
  text->size = size;
  return true;
}

// Number of lines as a line-by-line read sees them: every newline ends one,
// and text after the last newline is one more.
size_t count_lines(const FileText &text) {
  size_t lines = 0;
  const char *p = text.data;
  const char *end = text.data + text.size;
  while (p < end) {
    const char *nl = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    ++lines;
    if (!nl) break;
    p = nl + 1;
  }
  return lines;
}

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

int read_matches(MatchRecord **records, const char *path) {
  *records = nullptr;
  std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "r"));
  if (!file) {
    std::printf("can't open %s\n", path);
    return 0;
  }
  // The file is taken in whole: lines of any length are one record each, and
  // the count of the first pass and the records of the second always agree.
  FileText text;
  if (!read_whole_file(file.get(), &text)) return 0;
  file.reset();

  const size_t lines = count_lines(text);
  if (lines > static_cast<size_t>(INT_MAX)) return 0;  // more records than an int can count
  const int count = static_cast<int>(lines);
  std::printf("Match entries in file %d\n", count);
  if (count == 0) return 0;

  MatchRecord *out = static_cast<MatchRecord *>(std::malloc(lines * sizeof(MatchRecord)));
  if (!out) return 0;
  PointTable first_table, middle_table, last_table;
  if (!point_table_init(&first_table, lines) || !point_table_init(&middle_table, lines) ||
      !point_table_init(&last_table, lines)) {
    point_table_release(&first_table);
    point_table_release(&middle_table);
    point_table_release(&last_table);
    std::free(out);
    return 0;
  }

  int32_t first_counter = 0, middle_counter = 0, last_counter = 0;
  // Working values 1..6 persist from line to line: a short line keeps the
  // values of the line before. Before the first line they are 0.
  double v[7] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  char *line = text.data;
  char *const end = text.data + text.size;
  for (int i = 0; i < count; ++i) {
    char *nl = static_cast<char *>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
    if (nl) *nl = '\0';  // the last line without a newline ends at the final NUL
    const int got = std::sscanf(line, "%lf %lf %lf %lf %lf %lf", &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    line = nl ? nl + 1 : end;

    MatchRecord &r = out[i];
    r.middle.x = -1.0;
    r.middle.y = -1.0;
    r.middle.index = -1;  // an absent middle has no number
    if (got == 6) {
      r.middle.x = v[3];
      r.middle.y = v[4];
      point_table_number(&middle_table, out, i, &MatchRecord::middle, &middle_counter);
      v[3] = v[5];
      v[4] = v[6];
    }
    r.first.x = v[1];
    r.first.y = v[2];
    r.last.x = v[3];
    r.last.y = v[4];
    point_table_number(&first_table, out, i, &MatchRecord::first, &first_counter);
    point_table_number(&last_table, out, i, &MatchRecord::last, &last_counter);
  }

  point_table_release(&first_table);
  point_table_release(&middle_table);
  point_table_release(&last_table);
  *records = out;
  return count;
}
