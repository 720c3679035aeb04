#include "chain_index.h"

#include <cmath>
#include <cstring>

namespace {

bool same_key(const ChainKey &a, const ChainKey &b) {
  return a.v[0] == b.v[0] && a.v[1] == b.v[1] && a.v[2] == b.v[2] && a.v[3] == b.v[3];
}

// Mixes the bit patterns of the four values (whole numbers with -0 already
// turned into 0, so equal keys have equal bits).
uint64_t hash_key(const ChainKey &k) {
  uint64_t h = 0x9e3779b97f4a7c15ull;
  for (double d : k.v) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    h ^= bits;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 32;
  }
  return h;
}

// Slot of `key`: the one holding its first entry, or the empty one where it
// belongs.
size_t find_slot(const ChainIndex &index, const ChainKey &key) {
  size_t mask = index.slots.size() - 1;
  size_t s = static_cast<size_t>(hash_key(key)) & mask;
  while (index.slots[s] >= 0 && !same_key(index.entries[static_cast<size_t>(index.slots[s])].key, key))
    s = (s + 1) & mask;
  return s;
}

}  // namespace

void clear_chain_index(ChainIndex *index, size_t expected_chains) {
  index->entries.clear();
  index->cursor.clear();
  index->tail.clear();
  // At most half the slots are used, so probing always ends at an empty slot.
  size_t size = 16;
  while (size < 2 * expected_chains) size *= 2;
  index->slots.assign(size, -1);
}

void add_to_chain_index(ChainIndex *index, const ChainKey &key, int chain) {
  for (double d : key.v)
    if (std::isnan(d)) return;
  if (2 * (index->entries.size() + 1) > index->slots.size()) {
    // More chains than announced: rebuild with room for twice as many.
    std::vector<ChainIndex::Entry> entries = index->entries;
    clear_chain_index(index, 2 * (entries.size() + 1));
    for (const ChainIndex::Entry &e : entries) add_to_chain_index(index, e.key, e.chain);
  }
  int32_t e = static_cast<int32_t>(index->entries.size());
  index->entries.push_back(ChainIndex::Entry{key, chain, -1});
  index->cursor.push_back(e);
  index->tail.push_back(e);
  size_t s = find_slot(*index, key);
  int32_t first = index->slots[s];
  if (first < 0) {
    index->slots[s] = e;
  } else {
    index->entries[static_cast<size_t>(index->tail[static_cast<size_t>(first)])].next = e;
    index->tail[static_cast<size_t>(first)] = e;
    if (index->cursor[static_cast<size_t>(first)] < 0) index->cursor[static_cast<size_t>(first)] = e;
  }
}

int take_from_chain_index(ChainIndex *index, const ChainKey &key) {
  for (double d : key.v)
    if (std::isnan(d)) return -1;
  int32_t first = index->slots[find_slot(*index, key)];
  if (first < 0) return -1;
  int32_t e = index->cursor[static_cast<size_t>(first)];
  if (e < 0) return -1;
  index->cursor[static_cast<size_t>(first)] = index->entries[static_cast<size_t>(e)].next;
  return index->entries[static_cast<size_t>(e)].chain;
}
