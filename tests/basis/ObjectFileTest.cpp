#include <gtest/gtest.h>

#include "basis/TFile.h"
#include "basis/ValueObjects.h"
#include "tests/support/TempDir.h"

TEST(ObjectFile, StoresAndLoadsAnInteger) {
  TempDir dir;
  TInteger five(5);
  five.store(dir.file("i.dat"));
  EXPECT_EQ(TempDir::read(dir.file("i.dat")), std::string("\x04\0\0\0\x05\0\0\0", 8));
  TInteger loaded;
  loaded.load(dir.file("i.dat"));
  EXPECT_EQ(loaded.intValue(), 5);
}
