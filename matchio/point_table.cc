#include "point_table.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

uint64_t mix64(uint64_t v) {
  v ^= v >> 30;
  v *= 0xbf58476d1ce4e5b9ULL;
  v ^= v >> 27;
  v *= 0x94d049bb133111ebULL;
  v ^= v >> 31;
  return v;
}

// Bit pattern of a coordinate with -0.0 folded onto 0.0, so that values the
// == comparison calls equal hash alike.
uint64_t coordinate_bits(double v) {
  if (v == 0.0) v = 0.0;
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

size_t position_hash(double x, double y) {
  return static_cast<size_t>(mix64(coordinate_bits(x) ^ mix64(coordinate_bits(y) + 0x9e3779b97f4a7c15ULL)));
}

}  // namespace

bool point_table_init(PointTable *table, size_t capacity) {
  table->slots = nullptr;
  table->mask = 0;
  // At most half full, so probe runs stay short.
  size_t count = 16;
  while (count / 2 < capacity) {
    if (count > SIZE_MAX / 2 / sizeof(int32_t)) return false;
    count *= 2;
  }
  int32_t *slots = static_cast<int32_t *>(std::malloc(count * sizeof(int32_t)));
  if (!slots) return false;
  for (size_t k = 0; k < count; ++k) slots[k] = -1;
  table->slots = slots;
  table->mask = count - 1;
  return true;
}

void point_table_release(PointTable *table) {
  std::free(table->slots);
  table->slots = nullptr;
  table->mask = 0;
}

void point_table_number(PointTable *table, MatchRecord *records, int32_t i,
                        MatchPoint MatchRecord::*member, int32_t *counter) {
  MatchPoint &p = records[i].*member;
  // Positions the linear search never finds: not searched (-1.0) or never
  // equal to anything (NaN). They are not stored either.
  if (p.x == -1.0 || p.y == -1.0 || std::isnan(p.x) || std::isnan(p.y)) {
    p.index = (*counter)++;
    return;
  }
  size_t k = position_hash(p.x, p.y) & table->mask;
  for (;;) {
    const int32_t r = table->slots[k];
    if (r < 0) break;
    const MatchPoint &q = records[r].*member;
    if (q.x == p.x && q.y == p.y) {
      p.index = q.index;
      return;
    }
    k = (k + 1) & table->mask;
  }
  table->slots[k] = i;
  p.index = (*counter)++;
}
