// libFuzzer target for vandrel's triplet reader: any bytes as a triplet
// file. Besides the sanitizers' checks, the kept triplets must be exactly
// those a plain reference reader finds: every line (up to a line feed, and
// up to a NUL within it) whose text starts with six numbers as the C
// library's "%lf" reads them (which differs from strtod on forms such as
// "3e" or "0x"), with the same values bit for bit. The minimum disparity is -1 so
// that no parsed triplet is dropped and every number is compared.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "triplet_file.h"

namespace {

std::string g_path;
TripletBuffer g_buffer;

bool same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b); }

std::vector<Triplet> reference_triplets(const uint8_t *data, size_t size) {
  std::vector<Triplet> out;
  size_t start = 0;
  while (start < size) {
    size_t end = start;
    while (end < size && data[end] != '\n') ++end;
    const std::string line(reinterpret_cast<const char *>(data) + start, end - start);
    const char *p = line.c_str();  // stops at an embedded NUL, as the reader does
    double v[6];
    int n = 0;
    for (; n < 6; ++n) {
      int used = 0;
      if (std::sscanf(p, "%lf%n", &v[n], &used) != 1) break;
      p += used;
    }
    if (n == 6) out.push_back(Triplet{{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}});
    start = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  g_path = fuzz::scratch_path("triplets.txt");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::write_scratch(g_path, data, size);
  if (read_triplets(g_path, -1, &g_buffer) != Status::ok) std::abort();
  const std::vector<Triplet> want = reference_triplets(data, size);
  if (want.size() != g_buffer.triplets.size()) std::abort();
  for (size_t i = 0; i < want.size(); ++i) {
    const Triplet &a = want[i];
    const Triplet &b = g_buffer.triplets[i];
    if (!same(a.first.x, b.first.x) || !same(a.first.y, b.first.y) || !same(a.middle.x, b.middle.x) ||
        !same(a.middle.y, b.middle.y) || !same(a.last.x, b.last.x) || !same(a.last.y, b.last.y))
      std::abort();
  }
  return 0;
}
