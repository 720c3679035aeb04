// Previous-tensor filter.
#include "previous_filter.h"

#include "transfer.h"

int filter_by_previous_tensor(TensorMethod method, MatchRecord *matches, int count,
                              const TrifocalTensor &tensor, double distance,
                              PreviousFilterCallback on_match, void *context) {
  const TrifocalTensor working = tensor;
  int kept = 0;
  for (int n = 0; n < count; ++n) {
    const TransferDistances d = transfer_distances(method, working, matches[n]);
    const double m = (d.d_last + d.d_first + d.d_middle) / 3;
    if (m < distance) matches[kept++] = matches[n];
    if (on_match != nullptr) on_match(context, m, kept);
  }
  return kept;
}
