// Shared main of the test programs that run a Qt event loop (sockets, SMTP,
// mail, diagnostics): a QCoreApplication exists for the whole run and the
// base library is started as in the program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <clocale>

#include "basis/BasisStartup.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  QCoreApplication app(argc, argv);
  startupBasis();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
