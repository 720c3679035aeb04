#include "console_report.h"

#include <cstdio>
#include <vector>

void ConsolePrinter::too_small_disparity() { std::puts("Too small disparity"); }

void ConsolePrinter::chain_extended(const Triplet &tr, size_t index, int chain,
                                    size_t new_length) {
  TextOutput &out_ = *step_text_;
  // "Match %lf %lf %lf %lf index %d %d\n"
  put_text(&out_, "Match ");
  put_fixed(&out_, tr.first.x, 6);
  put_text(&out_, " ");
  put_fixed(&out_, tr.first.y, 6);
  put_text(&out_, " ");
  put_fixed(&out_, tr.middle.x, 6);
  put_text(&out_, " ");
  put_fixed(&out_, tr.middle.y, 6);
  put_text(&out_, " index ");
  put_integer(&out_, static_cast<long long>(index));
  put_text(&out_, " ");
  put_integer(&out_, chain);
  put_text(&out_, "\n");
  // "Matched entry %d new index %d\n"
  put_text(&out_, "Matched entry ");
  put_integer(&out_, chain);
  put_text(&out_, " new index ");
  put_integer(&out_, static_cast<long long>(new_length));
  put_text(&out_, "\n");
}

void ConsolePrinter::opening_track_file(const std::string &name) {
  std::printf("Opening filename %s\n", name.c_str());
}

void chain_and_print(long long step, const TripletBuffer &buffer, ChainTable *table,
                     ConsolePrinter *printer) {
  TextOutput out(stdout);
  printer->step_text_ = &out;
  try {
    chain_triplets(step, buffer, table, printer);
  } catch (...) {
    printer->step_text_ = nullptr;
    discard_text(&out);
    throw;
  }
  printer->step_text_ = nullptr;
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
  const std::vector<long> counts = chain_length_counts(table);
  for (size_t length = 0; length < counts.size(); ++length)
    if (counts[length] != 0)
      std::printf("Histo index %d entry %ld\n", static_cast<int>(length), counts[length]);
}
