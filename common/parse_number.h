// The toolkit's one reader of decimal numbers in text files.
#pragma once

// Converts one number starting at `p` exactly as the C library's "%lf"
// conversion reads it, and sets *end just after it (to `p` when there is no
// number). Leading white space is skipped. Plain decimals of at most 15
// digits, by far the most common form in match files, are converted here
// with one correctly rounded division; every other form (exponents,
// hexadecimal, inf, nan, long digit strings) is handed to the C library's own
// "%lf", so malformed numbers end where they always ended.
double parse_number(const char *p, const char **end);

// Converts up to `wanted` numbers from the NUL-terminated text at `line`
// into values[0..], stopping at the first place that holds no number, and
// returns how many were converted, as sscanf with "%lf %lf ..." does (except
// that an empty line gives 0 rather than EOF). values beyond the returned
// count are left unchanged.
int parse_numbers(const char *line, double *values, int wanted);
