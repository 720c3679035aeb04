#include "chain_index.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(VandrelChainIndex, HandsOutChainsOfAKeyLowestIndexFirst) {
  ChainIndex index;
  clear_chain_index(&index, 4);
  const ChainKey a{{1, 2, 3, 4}};
  const ChainKey b{{1, 2, 3, 5}};
  add_to_chain_index(&index, a, 2);
  add_to_chain_index(&index, b, 3);
  add_to_chain_index(&index, a, 7);
  add_to_chain_index(&index, a, 9);
  EXPECT_EQ(take_from_chain_index(&index, a), 2);
  EXPECT_EQ(take_from_chain_index(&index, b), 3);
  EXPECT_EQ(take_from_chain_index(&index, b), -1);
  EXPECT_EQ(take_from_chain_index(&index, a), 7);
  EXPECT_EQ(take_from_chain_index(&index, a), 9);
  EXPECT_EQ(take_from_chain_index(&index, a), -1);
  EXPECT_EQ(take_from_chain_index(&index, ChainKey{{0, 0, 0, 0}}), -1);
  // Clearing starts over.
  clear_chain_index(&index, 1);
  EXPECT_EQ(take_from_chain_index(&index, a), -1);
}

TEST(VandrelChainIndex, GrowsPastTheAnnouncedSizeAndIgnoresNotANumber) {
  ChainIndex index;
  clear_chain_index(&index, 2);
  for (int c = 0; c < 1000; ++c) add_to_chain_index(&index, ChainKey{{double(c % 10), 0, 0, 0}}, c);
  const double nan = std::nan("");
  add_to_chain_index(&index, ChainKey{{nan, 0, 0, 0}}, 1000);
  EXPECT_EQ(take_from_chain_index(&index, ChainKey{{nan, 0, 0, 0}}), -1);
  for (int k = 0; k < 100; ++k) EXPECT_EQ(take_from_chain_index(&index, ChainKey{{3, 0, 0, 0}}), 3 + 10 * k);
  EXPECT_EQ(take_from_chain_index(&index, ChainKey{{3, 0, 0, 0}}), -1);
  EXPECT_EQ(take_from_chain_index(&index, ChainKey{{9, 0, 0, 0}}), 9);
}

}  // namespace
