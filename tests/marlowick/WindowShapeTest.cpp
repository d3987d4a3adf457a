#include "marlowick/WindowShape.h"

#include <gtest/gtest.h>

namespace {

using marlowick::WindowSize;

TEST(WindowShape, GrowsTheShortSideToFourByThree) {
  struct Case {
    WindowSize before, after;
  };
  const Case cases[] = {
      {{800, 400}, {800, 600}},  // too flat: taller
      {{400, 600}, {800, 600}},  // too narrow: wider
      {{800, 600}, {800, 600}},  // already 4:3
      {{801, 600}, {801, 601}},  // 0.75 x 801 = 600.75 rounds up
      {{1000, 300}, {1000, 750}},
      {{0, 0}, {0, 0}},
      {{100, 1}, {100, 75}},
      {{1, 100}, {134, 100}},  // 100 / 0.75 = 133.3 rounds up
  };
  for (const Case& c : cases) {
    EXPECT_EQ(marlowick::fourByThree(c.before), c.after)
        << c.before.width << "x" << c.before.height;
  }
}

}  // namespace
