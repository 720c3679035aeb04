#include "chaining.h"

#include <algorithm>
#include <cmath>

double whole_pixel(double v) { return std::trunc(v) + 0.0; }

namespace {

ChainKey make_key(ImagePoint a, ImagePoint b) {
  return ChainKey{{whole_pixel(a.x), whole_pixel(a.y), whole_pixel(b.x), whole_pixel(b.y)}};
}

}  // namespace

void chain_triplets(long long step, const TripletBuffer &buffer, ChainTable *table,
                    ChainingEvents *events) {
  std::vector<Chain> &chains = table->chains;
  const size_t first_new = chains.size();

  // The candidates are the chains open now; only they can carry the
  // extended flag from the previous step.
  clear_chain_index(&table->index, table->openChains.size());
  for (const OpenChain &o : table->openChains) {
    chains[static_cast<size_t>(o.chain)].extended = false;
    add_to_chain_index(&table->index, o.key, o.chain);
  }

  std::vector<OpenChain> &next_open = table->nextOpen;
  next_open.clear();
  for (size_t t = 0; t < buffer.triplets.size(); ++t) {
    const Triplet &tr = buffer.triplets[t];
    int c = take_from_chain_index(&table->index, make_key(tr.first, tr.middle));
    if (c >= 0) {
      Chain &chain = chains[static_cast<size_t>(c)];
      size_t length = chain.points.size();
      // The re-observations of the two shared images are added in whole pixels.
      ChainPoint &before_last = chain.points[length - 2];
      before_last.sum.x += whole_pixel(tr.first.x);
      before_last.sum.y += whole_pixel(tr.first.y);
      before_last.count += 1;
      ChainPoint &last = chain.points[length - 1];
      last.sum.x += whole_pixel(tr.middle.x);
      last.sum.y += whole_pixel(tr.middle.y);
      last.count += 1;
      chain.points.push_back(ChainPoint{tr.last, tr.last, 1});
      chain.extended = true;
      // The middle position agrees with the old last point in whole pixels,
      // so the new key needs nothing from the chain's memory.
      next_open.push_back(OpenChain{make_key(tr.middle, tr.last), c});
      if (events) events->chain_extended(tr, t, c, chain.points.size());
    } else {
      // A new chain becomes a candidate from the next step on.
      Chain chain;
      chain.firstPosition = step;
      chain.points.reserve(4);
      chain.points.push_back(ChainPoint{tr.first, tr.first, 1});
      chain.points.push_back(ChainPoint{tr.middle, tr.middle, 1});
      chain.points.push_back(ChainPoint{tr.last, tr.last, 1});
      chains.push_back(std::move(chain));
    }
  }

  // Chains that received nothing are closed. The extended ones, in index
  // order, and then the new ones are the candidates of the next step.
  for (const OpenChain &o : table->openChains) {
    Chain &chain = chains[static_cast<size_t>(o.chain)];
    if (!chain.extended) chain.open = false;
  }
  std::sort(next_open.begin(), next_open.end(),
            [](const OpenChain &a, const OpenChain &b) { return a.chain < b.chain; });
  for (size_t c = first_new; c < chains.size(); ++c) {
    const std::vector<ChainPoint> &pts = chains[c].points;
    next_open.push_back(OpenChain{make_key(pts[1].point, pts[2].point), static_cast<int>(c)});
  }
  std::swap(table->openChains, next_open);
}

std::vector<long> chain_length_counts(const ChainTable &table) {
  size_t longest = 0;
  for (const Chain &chain : table.chains) longest = std::max(longest, chain.points.size());
  std::vector<long> counts(longest + 1, 0);
  for (const Chain &chain : table.chains) ++counts[chain.points.size()];
  return counts;
}
