// The test-only knobs the binary reads from its environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "service/servicehost.h"

namespace tv {
namespace {

class EngineOptionsTest : public ::testing::Test {
 protected:
  ~EngineOptionsTest() override {
    unsetenv("TOVALINK_TEST_QUIET_MS");
    unsetenv("TOVALINK_TEST_SCALE_TIMEOUT_MS");
  }
  static void Set(const char* quiet, const char* timeout) {
    setenv("TOVALINK_TEST_QUIET_MS", quiet, 1);
    setenv("TOVALINK_TEST_SCALE_TIMEOUT_MS", timeout, 1);
  }
};

TEST_F(EngineOptionsTest, KnobsReplaceTheShopValuesOnlyWhenTheyAreNumbers) {
  TEngineOptions options = EngineOptionsFromEnvironment();
  EXPECT_EQ(options.quietPeriod, std::chrono::milliseconds(2000));
  EXPECT_EQ(options.scaleTimeoutMs, 15000);
  Set("0", "4000");
  options = EngineOptionsFromEnvironment();
  EXPECT_EQ(options.quietPeriod, std::chrono::milliseconds(0));
  EXPECT_EQ(options.scaleTimeoutMs, 4000);
  const char* bad[][2] = {{"-1", "0"}, {"5ms", "x"}, {"", ""}};
  for (const auto& b : bad) {
    Set(b[0], b[1]);
    options = EngineOptionsFromEnvironment();
    EXPECT_EQ(options.quietPeriod, std::chrono::milliseconds(2000)) << b[0];
    EXPECT_EQ(options.scaleTimeoutMs, 15000) << b[1];
  }
}

}  // namespace
}  // namespace tv
