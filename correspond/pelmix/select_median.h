// Median selection for the disparity-gradient filter: a quickselect over a
// unit-offset array.
#pragma once

// Returns the (k + 1)-th smallest of values[1..count] (0 <= k < count).
// values[0] is overwritten with the sentinel -1e30 and values[1..count] are
// reordered. For the median of c values pass k = c / 2: the middle value when
// c is odd, the upper of the two middle values when c is even.
double select_median(int k, double *values, int count);
