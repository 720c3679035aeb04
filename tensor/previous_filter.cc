// Previous-tensor filter.
#include "previous_filter.h"

#include <cstdio>

#include "transfer.h"

int filter_by_previous_tensor(const EstimatorParams &params, MatchRecord *matches, int count,
                              const TrifocalTensor &tensor, double distance) {
  const TrifocalTensor working = tensor;
  int kept = 0;
  for (int n = 0; n < count; ++n) {
    const TransferDistances d = transfer_distances(params.method, working, matches[n]);
    const double m = (d.d_last + d.d_first + d.d_middle) / 3;
    std::printf("D error %f\n", m);
    if (m < distance) matches[kept++] = matches[n];
    std::printf("Actualmatches %d\n", kept);
  }
  return kept;
}
