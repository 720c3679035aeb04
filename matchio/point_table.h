// Per-image numbering of distinct positions in expected constant time per
// record: a hash table from exact coordinate values to the record that first
// showed them.
#pragma once
#include <cstddef>
#include <cstdint>

#include "matchio.h"

// Open-addressing table of record numbers for one member (first, middle or
// last) of a record array. Two positions are the same exactly when x == x'
// and y == y' as doubles, the comparison find_point_index makes: -0.0 equals
// 0.0 and a NaN coordinate equals nothing.
struct PointTable {
  int32_t *slots = nullptr;  // record numbers, -1 for an empty slot
  size_t mask = 0;           // slot count - 1 (the slot count is a power of two)
};

// Prepares a table with room for `capacity` positions. Returns false when the
// memory cannot be had; the table is then empty and must still be released.
bool point_table_init(PointTable *table, size_t capacity);
void point_table_release(PointTable *table);

// Gives records[i].*member its index, as find_point_index over records
// 0..i-1 followed by "else the next counter value" would: the index of the
// first earlier record at the same position, or *counter (then incremented).
// Records 0..i-1 must have been numbered through this function with the same
// table. A position with a coordinate equal to -1.0 is never searched for and
// one with a NaN coordinate never matches, so both always take a new number.
void point_table_number(PointTable *table, MatchRecord *records, int32_t i,
                        MatchPoint MatchRecord::*member, int32_t *counter);
