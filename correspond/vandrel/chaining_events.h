// The events of a chaining run that the program shows while the run goes on.
#pragma once

#include <cstddef>
#include <string>

struct Triplet;

// Receives the events; every method does nothing unless overridden.
class ChainingEvents {
 public:
  virtual ~ChainingEvents() = default;
  // A triplet of the file being read was dropped for too small a disparity.
  virtual void too_small_disparity() {}
  // Triplet number `index` of the current file extended chain `chain` to
  // `new_length` points.
  virtual void chain_extended(const Triplet &triplet, size_t index, int chain, size_t new_length) {
    (void)triplet, (void)index, (void)chain, (void)new_length;
  }
  // A divided track file is about to be opened.
  virtual void opening_track_file(const std::string &name) { (void)name; }
};
