#include "proxy/LoopPlacement.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace meterly::proxy {
namespace {

TEST(LoopPlacementTest, ALoopFillsUpBeforeTheNextTakesConnectionsThenTheLeastBusyTakesThem) {
    LoopPlacement placement(3, 2);
    std::vector<std::size_t> placed;
    for (int i = 0; i < 9; ++i) {
        placed.push_back(placement.place());
    }
    // Two per loop in order, then each to the loop serving the fewest (the first of equals).
    EXPECT_EQ(placed, (std::vector<std::size_t>{0, 0, 1, 1, 2, 2, 0, 1, 2}));

    // Ended connections make room where they were: the first loop with room below the packing
    // takes the next one, even when a later loop serves fewer.
    placement.release(1);
    placement.release(1);
    placement.release(0);
    placement.release(0);
    placement.release(1);
    EXPECT_EQ(placement.connections(0), 1u);
    EXPECT_EQ(placement.connections(1), 0u);
    EXPECT_EQ(placement.place(), 0u);
    EXPECT_EQ(placement.place(), 1u);
    EXPECT_EQ(placement.connections(2), 3u);
}

TEST(LoopPlacementTest, OneLoopTakesEverything) {
    LoopPlacement placement(1, 4);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(placement.place(), 0u);
    }
    EXPECT_EQ(placement.connections(0), 10u);
}

} // namespace
} // namespace meterly::proxy
