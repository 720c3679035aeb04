#include "chaining.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "options.h"
#include "text_output.h"

double whole_pixel(double v) { return std::trunc(v) + 0.0; }

namespace {

ChainKey make_key(ImagePoint a, ImagePoint b) {
  return ChainKey{{whole_pixel(a.x), whole_pixel(a.y), whole_pixel(b.x), whole_pixel(b.y)}};
}

}  // namespace

void chain_triplets(long long step, const TripletBuffer &buffer, ChainTable *table) {
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
  TextOutput out(stdout);
  for (size_t t = 0; t < buffer.triplets.size(); ++t) {
    const Triplet &tr = buffer.triplets[t];
    int c = take_from_chain_index(&table->index, make_key(tr.first, tr.middle));
    if (c >= 0) {
      // "Match %lf %lf %lf %lf index %d %d\n"
      put_text(&out, "Match ");
      put_fixed(&out, tr.first.x, 6);
      put_text(&out, " ");
      put_fixed(&out, tr.first.y, 6);
      put_text(&out, " ");
      put_fixed(&out, tr.middle.x, 6);
      put_text(&out, " ");
      put_fixed(&out, tr.middle.y, 6);
      put_text(&out, " index ");
      put_integer(&out, static_cast<long long>(t));
      put_text(&out, " ");
      put_integer(&out, c);
      put_text(&out, "\n");
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
      // "Matched entry %d new index %d\n"
      put_text(&out, "Matched entry ");
      put_integer(&out, c);
      put_text(&out, " new index ");
      put_integer(&out, static_cast<long long>(chain.points.size()));
      put_text(&out, "\n");
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

void list_chains(const ChainTable &table, const TrackSettings &settings) {
  TextOutput out(stdout);
  for (size_t c = 0; c < table.chains.size(); ++c) {
    const Chain &chain = table.chains[c];
    int length = static_cast<int>(chain.points.size());
    for (int k = 0; k < length; ++k) {
      long long position = chain.firstPosition + k;
      long long renumbered = settings.imageOffset + renumbered_position(settings, position);
      const ImagePoint &p = chain.points[static_cast<size_t>(k)].point;
      // "Point number %d image %d renumbered image %d x value %lf y value %lf
      // chainlength %d\n"
      put_text(&out, "Point number ");
      put_integer(&out, static_cast<long long>(c));
      put_text(&out, " image ");
      put_integer(&out, position);
      put_text(&out, " renumbered image ");
      put_integer(&out, renumbered);
      put_text(&out, " x value ");
      put_fixed(&out, p.x, 6);
      put_text(&out, " y value ");
      put_fixed(&out, p.y, 6);
      put_text(&out, " chainlength ");
      put_integer(&out, length);
      put_text(&out, "\n");
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
