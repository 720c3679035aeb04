// Candidate chains of one chaining step, found by the whole-pixel values of
// their last two points. A triplet may extend only a chain whose last two
// points agree with its first two positions in whole pixels, and among those
// the one with the lowest index; the index hands them out in that order, so
// each triplet costs one hash look-up instead of a search through all chains.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Whole-pixel x, y of a chain's next-to-last point, then of its last point.
struct ChainKey {
  double v[4];
};

struct ChainIndex {
  struct Entry {
    ChainKey key;
    int chain;
    int32_t next;  // next entry with the same key, -1 at the end
  };
  std::vector<Entry> entries;
  std::vector<int32_t> slots;   // open addressing: first entry of a key, or -1
  std::vector<int32_t> cursor;  // per first entry: the next entry to hand out
  std::vector<int32_t> tail;    // per first entry: the last entry of its key
};

// Empties the index, keeping its memory.
void clear_chain_index(ChainIndex *index, std::size_t expected_chains);

// Adds a chain; chains must be added in increasing index order, and all of
// them before the first take. A key with a
// coordinate that is not a number agrees with nothing and is not added.
void add_to_chain_index(ChainIndex *index, const ChainKey &key, int chain);

// Hands out the lowest-index chain with `key` that was not handed out since
// the index was filled, or -1.
int take_from_chain_index(ChainIndex *index, const ChainKey &key);
