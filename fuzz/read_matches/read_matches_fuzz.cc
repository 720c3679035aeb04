// libFuzzer target for read_matches: any bytes as a match file. Besides the
// sanitizers' checks, the hashed numbering of every image must equal the one
// the linear find_point_index gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"

#include "matchio.h"

namespace {

std::string g_path;

void check_numbering(const MatchRecord *m, int count) {
  int32_t first_counter = 0, middle_counter = 0, last_counter = 0;
  for (int i = 0; i < count; ++i) {
    const MatchRecord &r = m[i];
    int32_t want;
    if (!point_absent(r.middle)) {
      int32_t k = find_point_index(m, i, -1, -1, r.middle.x, r.middle.y, -1, -1);
      want = k < 0 ? middle_counter++ : k;
      if (r.middle.index != want) std::abort();
    } else if (r.middle.index != -1) {
      if (r.middle.index != middle_counter++) std::abort();
    }
    int32_t k = find_point_index(m, i, r.first.x, r.first.y, -1, -1, -1, -1);
    want = k < 0 ? first_counter++ : k;
    if (r.first.index != want) std::abort();
    k = find_point_index(m, i, -1, -1, -1, -1, r.last.x, r.last.y);
    want = k < 0 ? last_counter++ : k;
    if (r.last.index != want) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_path = fuzz::scratch_path("matches.txt");
  // The reader reports its line count on standard output.
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::write_scratch(g_path, data, size);
  std::vector<MatchRecord> records;
  int lines = -1;
  const Status status = read_matches(g_path.c_str(), &records, &lines);
  if (status == Status::ok) {
    if (records.empty() || static_cast<int>(records.size()) != lines) std::abort();
    const int count = static_cast<int>(records.size());
    if (count <= 3000) check_numbering(records.data(), count);  // the check is quadratic
  } else if (!records.empty()) {
    std::abort();
  }
  return 0;
}
