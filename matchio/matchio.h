// Match files: the in-memory correspondence record, the reader of pair and
// triplet files, and the writers of support-match and filtered-match files.
// Nothing here prints or ends the process: every call returns a Status.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "status.h"

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

// Reads the whole match file at `path` into *records, one record per line.
// *line_count is the number of lines counted, or -1 when the file was not
// opened or its lines could not be counted. Status::ok with at least one
// record; Status::cannot_open when the file cannot be opened;
// Status::empty_input for a file without lines; Status::bad_input for more
// lines than an int counts; Status::out_of_memory when the text or the
// records do not fit in memory. The records take one allocation of exactly
// count records; on any failure *records is left empty.
Status read_matches(const char *path, std::vector<MatchRecord> *records, int *line_count);

// Searches records[0..n-1] for the first record equal in one member to the
// queried position (a (-1,-1) query is not searched); returns its index or -1.
int32_t find_point_index(const MatchRecord *records, int n, double first_x, double first_y,
                         double middle_x, double middle_y, double last_x, double last_y);

// Writes the records whose flag is non-zero to `path` (the full output name),
// a triplet line per record with a middle position and a pair line for the
// others. Status::cannot_open when the file cannot be opened,
// Status::cannot_write when it cannot be written completely (the output is
// then not left behind).
Status write_support_matches(const MatchRecord *records, int count, const int32_t *flags,
                             const std::string &path);

// Writes the records whose keep entry is non-zero to `path`, in the lines of
// write_support_matches. Same statuses.
Status write_filtered_matches(const MatchRecord *records, int count, const uint8_t *keep,
                              const std::string &path);

// Which position of a record a side file holds.
enum class MatchSide { first, last };

// Writes the `side` positions of the kept records to `path`, one "x y " line
// each (the side files of pelmix's -z output). Same statuses.
Status write_filtered_side(const MatchRecord *records, int count, const uint8_t *keep,
                           MatchSide side, const std::string &path);
