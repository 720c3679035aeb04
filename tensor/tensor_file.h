// The tensor file: the 27 entries of a trifocal tensor in storage order, as
// nine lines of three numbers with twenty decimals.
#pragma once
#include <string>

#include "status.h"
#include "trifocal.h"

// Writes `path` (replaced atomically, see OutputFile): line 3i + j + 1 holds
// T(i,j,0), T(i,j,1), T(i,j,2) as "%.20lf %.20lf %.20lf\n".
// Status::cannot_open when the file cannot be opened, Status::cannot_write
// when it cannot be written completely (nothing half-written is left).
Status write_tensor(const TrifocalTensor &t, const std::string &path);

// Reads `path`: 27 numbers in storage order, separated by any white space
// (line breaks are not significant); numbers after the 27th are ignored.
// Status::cannot_open when the file cannot be opened; Status::too_few when
// it holds fewer than 27 numbers (*numbers_read tells how many it held);
// Status::bad_input when text stands where a number should be (*numbers_read
// is the count of numbers before it). *t is changed only when all 27 numbers
// were read.
Status read_tensor(TrifocalTensor *t, const std::string &path, int *numbers_read = nullptr);
