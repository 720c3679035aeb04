// vandrel's console: the lines a run shows on standard output while it
// goes on, the chain listing and the chain-length histogram.
#pragma once

#include <string>

#include "chaining.h"
#include "chaining_events.h"
#include "text_output.h"
#include "track_settings.h"

// Prints the events of a run on standard output. The lines of a chaining
// step go through the text buffer of chain_and_print.
class ConsolePrinter : public ChainingEvents {
 public:
  void too_small_disparity() override;
  void chain_extended(const Triplet &triplet, size_t index, int chain, size_t new_length) override;
  void opening_track_file(const std::string &name) override;

 private:
  friend void chain_and_print(long long step, const TripletBuffer &buffer, ChainTable *table,
                              ConsolePrinter *printer);
  TextOutput *step_text_ = nullptr;
};

// One chaining step with its "Match ..." and "Matched entry ..." lines,
// buffered and handed to standard output at the end of the step. A step that
// runs out of memory shows none of its lines (std::bad_alloc goes on).
void chain_and_print(long long step, const TripletBuffer &buffer, ChainTable *table,
                     ConsolePrinter *printer);

// Prints every point of every chain in index order, with its renumbered
// image number (imageOffset plus the renumbering table, never reversed).
void list_chains(const ChainTable &table, const TrackSettings &settings);

// Prints, for every chain length that occurs, in increasing order, how many
// chains have it.
void chain_length_histogram(const ChainTable &table);
