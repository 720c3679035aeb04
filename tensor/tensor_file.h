// The tensor file: the 27 entries of a trifocal tensor in storage order, as
// nine lines of three numbers with twenty decimals, stored under a base name
// (the match file name of the run) followed by ".TM".
#pragma once
#include "trifocal.h"

// Writes base + ".TM": line 3i + j + 1 holds T(i,j,0), T(i,j,1), T(i,j,2)
// as "%.20lf %.20lf %.20lf\n". A file that cannot be opened prints
// "can't open <name>\n" and ends the process with status 1; one that cannot
// be written completely is removed, "can't write <name>\n" is printed and
// the process ends with status 1.
void write_tensor(const TrifocalTensor &t, const char *base);

// Reads base + ".TM": 27 numbers in storage order, separated by any white
// space (line breaks are not significant), then echoes the tensor as three
// lines "Tensor %d %f %f %f\n", one per slice i, showing i and the first row
// of that slice, T(i,0,0), T(i,0,1), T(i,0,2). Numbers after the 27th are
// ignored. The file is refused, and the process ends with status 1, when
//   - it cannot be opened: "can't open <name>\n";
//   - it holds fewer than 27 numbers: "can't read <name>: only %d of the 27
//     tensor numbers\n";
//   - text stands where a number should be: "can't read <name>: number %d is
//     not a number\n" (counting from 1).
// *t is changed only when all 27 numbers were read.
void read_tensor(TrifocalTensor *t, const char *base);
