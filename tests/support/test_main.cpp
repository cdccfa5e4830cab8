// The test runner: in-process tests read times in the zone TEMBRA_TEST_ZONE names, else in UTC,
// whatever the machine's zone is; the real executables are started in the same zone.
#include <cstdlib>

#include <gtest/gtest.h>

#include "support/black_box.h"

int main(int argc, char** argv) {
  ::setenv("TZ", tembra::testing::testZone().c_str(), 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
