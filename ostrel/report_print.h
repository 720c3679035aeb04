// ostrel's console output of the library's results: the lines of the
// estimation as it runs, the previous-tensor filter's lines, the echo of a
// tensor file that was read, and the fatal numerical error.
#pragma once
#include <cstdio>

#include "estimator.h"
#include "progress_line.h"
#include "trifocal.h"

// Progress callback of the estimator (EstimationOptions::progress); the
// context is the FILE* to print to (stdout for the program). Prints what the
// estimator's steps show: "NEW T" lines, the end of sampling, the support
// count, the two assessments and the notes of the numerical routines. The
// lines depend on the options of the run (scoring, sample size, success
// probability), so the context record carries them. With a progress line
// (standard error a terminal), the samples taken and the best support show
// there while sampling runs.
struct EstimationPrinter {
  FILE *out;
  const EstimationOptions *options;
  ProgressLine *line = nullptr;  // may be null
};
void print_estimation_step(void *printer, EstimationStep step, const EstimationReport &report,
                           const char *note);

// Callback of filter_by_previous_tensor; the context is the FILE* to print to.
void print_previous_filter_line(void *out, double mean_distance, int kept);

// Numeric note sink that prints each line to the FILE* given as context.
void print_numeric_note(void *out, const char *line);

// "Tensor %d %f %f %f\n" for each slice i: i and the first row of the slice.
void print_tensor_echo(FILE *out, const TrifocalTensor &t);

// The three lines of a fatal numerical error on standard error.
void print_numeric_failure(const char *message);
