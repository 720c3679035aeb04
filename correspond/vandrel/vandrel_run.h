// One run of vandrel: banner, command line, the triplet files of the
// sequence in order, the chain listing, the track file and the histogram.
#pragma once

// Returns the exit status: 0 for a completed run, 1 for a wrong command line
// (after the usage text) and for a file that cannot be opened, 2 when memory
// runs out.
int run_vandrel(int argc, char **argv);
