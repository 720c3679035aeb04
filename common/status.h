// Outcome of a library call. Every library of the toolkit reports through
// this one enum; the programs turn a status into their own message and exit
// status, and status_text names each code for other callers.
#pragma once

enum class Status {
  ok = 0,
  cannot_open,       // a file could not be opened (or created)
  cannot_write,      // writing, flushing, closing or renaming an output failed
  out_of_memory,     // an allocation failed
  empty_input,       // the input holds nothing to work on
  bad_input,         // the input is malformed (text where a number belongs, a bad header)
  too_few,           // fewer items than the computation needs
  numeric_failure,   // a decomposition did not converge or met a singular matrix
  invalid_argument,  // a parameter outside its range
};

// A short English description of the code, e.g. "cannot open file".
const char *status_text(Status status);
