// The track file: every chain with at least minimumChainLength points as
// "mp" lines, one per point, either all in one file or spread over several
// files by image number.
#pragma once

#include <string>

#include "chaining.h"
#include "chaining_events.h"
#include "status.h"

#include "track_settings.h"

// The largest number of divided output files; their names end in "-a" to "-z".
constexpr int kMaxDividedFiles = 26;

// The divisor that follows d: d / 2 above 5, then 4, 3, 2, 1 and 0.
int next_divisor(int d);

// How many files divided output with `divide_count` writes (0 for a count
// below 1).
int divided_file_count(int divide_count);

// Output number of the image at sequence position `position`: imageOffset
// plus the renumbering entry of the position, or with `reverse` of the
// mirrored position (endNumber - startNumber + 2) - position.
long long output_image_number(const TrackSettings &settings, long long position, bool reverse);

// Writes the tracks of `table` to `output_name` (divide_count 0), or, for a
// divide count above 0, to output_name + "-a", "-b", ...: the first file the
// images whose numbers are multiples of the divide count, each later one the
// multiples of the next divisor not written yet. Short lines are
// "mp %d %d %.1f %.1f\r\n", long ones "mp %d %d %f %f\r\n". Sets the
// outputNumber of every written chain when divide_count is not 0. Every file
// is replaced atomically; `events` hears of each divided file before it is
// opened. Status::cannot_open or Status::cannot_write (with the file's name
// in *failed_name when given) when a file cannot be opened or written, the
// files written before staying as they are; Status::invalid_argument for a
// divide count that needs more than kMaxDividedFiles files.
Status write_tracks(ChainTable *table, const TrackSettings &settings, const std::string &output_name,
                    int divide_count, ChainingEvents *events = nullptr,
                    std::string *failed_name = nullptr);
