// Values read from damaged object files stay usable.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "basis/ValueObjects.h"

namespace {

TEST(CorruptInputTest, DateTimesFarOutOfRangePrintLikeTheBaseDate) {
  const std::string base = TTDateTime(0.0).toString();
  for (double v : {1e300, -1e300, 1e10, std::numeric_limits<double>::infinity(),
                   std::numeric_limits<double>::quiet_NaN()}) {
    EXPECT_EQ(TTDateTime(v).toString(), base) << v;
  }
  EXPECT_NE(TTDateTime(1e8).toString(), base) << "distant but representable";
}

}  // namespace
