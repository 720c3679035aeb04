#include "select_median.h"

double select_median(int k, double *values, int count) {
  // The sentinel sits below every score, so the downward scan of the first
  // range stops at index 0 at the latest.
  values[0] = -1e30;
  const int target = k + 1;
  int l = 1;
  int r = count;
  while (r > l) {
    // Partition l..r around its last element.
    const double pivot = values[r];
    int i = l - 1;
    int j = r;
    for (;;) {
      while (values[++i] < pivot) {
      }
      // Scan down past larger values. The sentinel at index 0, or the pivot
      // of an earlier partition at l - 1, stops this scan; the bound test
      // keeps values below the sentinel from running it off the array. A
      // scan stopped at l ends the partition just as one stopped at l - 1,
      // since i >= l by then.
      while (pivot < values[--j]) {
        if (j == l) break;
      }
      if (i >= j) break;
      const double t = values[i];
      values[i] = values[j];
      values[j] = t;
    }
    values[r] = values[i];
    values[i] = pivot;
    // The pivot is now in its final place i.
    if (i >= target) r = i - 1;
    if (i <= target) l = i + 1;
  }
  return values[target];
}
