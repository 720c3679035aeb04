#include "chaining.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "options.h"

double whole_pixel(double v) { return std::trunc(v) + 0.0; }

namespace {

// Whole-pixel key of two positions; false when a coordinate is not a number,
// since such a position agrees with nothing.
bool make_key(ImagePoint a, ImagePoint b, double key[4]) {
  key[0] = whole_pixel(a.x);
  key[1] = whole_pixel(a.y);
  key[2] = whole_pixel(b.x);
  key[3] = whole_pixel(b.y);
  for (int i = 0; i < 4; ++i)
    if (std::isnan(key[i])) return false;
  return true;
}

bool key_less(const double *a, const double *b) {
  for (int i = 0; i < 4; ++i) {
    if (a[i] < b[i]) return true;
    if (b[i] < a[i]) return false;
  }
  return false;
}

bool key_equal(const double *a, const double *b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
}

// Fills table->index with the chains that are open when the step begins,
// grouped by key and, within a group, by increasing chain index.
void build_index(ChainTable *table) {
  table->index.clear();
  for (int c : table->openChains) {
    const std::vector<ChainPoint> &pts = table->chains[static_cast<size_t>(c)].points;
    size_t length = pts.size();
    ChainIndexEntry entry;
    entry.chain = c;
    if (make_key(pts[length - 2].point, pts[length - 1].point, entry.key))
      table->index.push_back(entry);
  }
  std::sort(table->index.begin(), table->index.end(),
            [](const ChainIndexEntry &a, const ChainIndexEntry &b) {
              if (key_less(a.key, b.key)) return true;
              if (key_less(b.key, a.key)) return false;
              return a.chain < b.chain;
            });
  table->taken.assign(table->index.size(), 0);
}

// The lowest-index chain of the step's candidates whose last two points agree
// with `key` and that was not extended yet in this step, or -1. Within a key
// group the chains already extended are always the lowest ones, because each
// match takes the lowest remaining chain; a count per group skips them.
int take_candidate(ChainTable *table, const double key[4]) {
  std::vector<ChainIndexEntry> &index = table->index;
  auto group = std::lower_bound(index.begin(), index.end(), key,
                                [](const ChainIndexEntry &e, const double *k) {
                                  return key_less(e.key, k);
                                });
  if (group == index.end() || !key_equal(group->key, key)) return -1;
  size_t g = static_cast<size_t>(group - index.begin());
  size_t j = g + table->taken[g];
  if (j >= index.size() || !key_equal(index[j].key, key)) return -1;
  ++table->taken[g];
  return index[j].chain;
}

}  // namespace

void chain_triplets(long long step, const TripletBuffer &buffer, ChainTable *table) {
  std::vector<Chain> &chains = table->chains;
  const size_t first_new = chains.size();

  // Only the chains open now can carry the flag from the previous step.
  for (int c : table->openChains) chains[static_cast<size_t>(c)].extended = false;
  build_index(table);

  for (size_t t = 0; t < buffer.triplets.size(); ++t) {
    const Triplet &tr = buffer.triplets[t];
    double key[4];
    int c = make_key(tr.first, tr.middle, key) ? take_candidate(table, key) : -1;
    if (c >= 0) {
      std::printf("Match %lf %lf %lf %lf index %d %d\n", tr.first.x, tr.first.y, tr.middle.x,
                  tr.middle.y, static_cast<int>(t), c);
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
      std::printf("Matched entry %d new index %d\n", c, static_cast<int>(chain.points.size()));
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

  // Chains that received nothing are closed; the extended ones and the new
  // ones are the candidates of the next step, still in index order.
  std::vector<int> &open = table->openChains;
  size_t kept = 0;
  for (int c : open) {
    Chain &chain = chains[static_cast<size_t>(c)];
    if (chain.extended)
      open[kept++] = c;
    else
      chain.open = false;
  }
  open.resize(kept);
  for (size_t c = first_new; c < chains.size(); ++c) open.push_back(static_cast<int>(c));
}

void list_chains(const ChainTable &table, const TrackSettings &settings) {
  for (size_t c = 0; c < table.chains.size(); ++c) {
    const Chain &chain = table.chains[c];
    int length = static_cast<int>(chain.points.size());
    for (int k = 0; k < length; ++k) {
      long long position = chain.firstPosition + k;
      long long renumbered = settings.imageOffset + renumbered_position(settings, position);
      const ImagePoint &p = chain.points[static_cast<size_t>(k)].point;
      std::printf(
          "Point number %d image %lld renumbered image %lld x value %lf y value %lf chainlength "
          "%d\n",
          static_cast<int>(c), position, renumbered, p.x, p.y, length);
    }
  }
}

void chain_length_histogram(const ChainTable &table) {
  size_t longest = 0;
  for (const Chain &chain : table.chains) longest = std::max(longest, chain.points.size());
  std::vector<long> bins(longest + 1, 0);
  for (const Chain &chain : table.chains) ++bins[chain.points.size()];
  for (size_t length = 0; length <= longest; ++length)
    if (bins[length] != 0)
      std::printf("Histo index %d entry %ld\n", static_cast<int>(length), bins[length]);
}
