// The command line of vandrel: its usage text and the reading of its
// options into the run's settings.
#pragma once

#include <cstdio>

#include "track_settings.h"

// The usage text, written when the command line is wrong.
void write_usage(FILE *stream);

// Reads the options argv[1..argc-1] into `settings`, printing the echoes of
// -a, -l, -q, -b, -r and -n on standard output. Returns false when the
// command line is wrong (too few arguments, an unknown option letter or a
// value option without its value); the caller then shows the usage text.
// "Arg count %d" is printed once there are enough arguments to look at.
bool parse_command_line(int argc, char **argv, TrackSettings *settings);
