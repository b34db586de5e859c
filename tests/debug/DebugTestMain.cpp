// Main of the diagnostics tests: base library and diagnostics start-up, and
// an event loop for the mail writers. The diagnostics are released once
// after all tests.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <clocale>

#include "basis/BasisStartup.h"
#include "debug/DebugStartup.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  QCoreApplication application(argc, argv);
  startupBasis();
  startupDebug();
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  releaseDebug();
  return result;
}
