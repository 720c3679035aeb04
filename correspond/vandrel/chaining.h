// Chaining the triplets of consecutive image triples into point tracks, and
// the chain-length counts.
//
// A triplet of step s whose first two positions agree, in whole pixels, with
// the last two points of a chain that is still growing extends that chain by
// its third position; any other triplet starts a new chain. A chain that
// receives nothing in a step is closed for good.
#pragma once

#include <vector>

#include "chain_index.h"
#include "chaining_events.h"
#include "triplet_file.h"

// One point of a chain: its position as first observed, and the running sum
// and count of all its observations (the first one exactly, each later one
// in whole pixels).
struct ChainPoint {
  ImagePoint point;
  ImagePoint sum;
  int count;
};

// One track. points[k] lies in the image at sequence position
// firstPosition + k; the chain's length is points.size().
struct Chain {
  bool open = true;       // may still be extended
  bool extended = true;   // created or extended in the current step
  long long firstPosition = 0;
  std::vector<ChainPoint> points;
  int outputNumber = 0;   // number in divided output, set by write_tracks
};

// A chain that is open when the next step begins, with the whole-pixel
// values of its last two points.
struct OpenChain {
  ChainKey key;
  int chain;
};

// All chains of the run, in creation order; chains are never removed or
// reordered. The table grows as needed.
struct ChainTable {
  std::vector<Chain> chains;
  // Working storage of chain_triplets, kept to reuse its memory.
  std::vector<OpenChain> openChains;  // in increasing chain index
  std::vector<OpenChain> nextOpen;
  ChainIndex index;                   // the candidates of the current step
};

// The integer part of v (truncation toward zero), as a double; -0.0 comes
// out as 0.0 so that it adds and compares like the integer 0.
double whole_pixel(double v);

// Applies step `step` (1 for the first file of the run) with the kept
// triplets of `buffer`: extends or starts chains, tells `events` (when
// given) of every extension, and closes the chains that were open when the
// step began but received nothing. Memory is taken with operator new
// (std::bad_alloc when it runs out).
void chain_triplets(long long step, const TripletBuffer &buffer, ChainTable *table,
                    ChainingEvents *events = nullptr);

// counts[length] = how many chains have `length` points, for every length
// up to the longest (an empty table gives one zero entry).
std::vector<long> chain_length_counts(const ChainTable &table);
