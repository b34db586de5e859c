// Shared main of the test programs that need no event loop.
#include <gtest/gtest.h>

#include <clocale>

#include "basis/BasisStartup.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  startupBasis();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
