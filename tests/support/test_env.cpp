// A gtest environment that reports, at the end of each test executable, how
// many allocation-failure points the harness drove.
#include "support/alloc_fault.h"

#include <cstdio>

namespace {
class AllocReport : public ::testing::Environment {
public:
  void TearDown() override {
    if (bqtest::totalFailurePoints() > 0)
      std::printf("allocation-failure points driven: %ld\n",
                  bqtest::totalFailurePoints());
  }
};
const auto* const g_env =
    ::testing::AddGlobalTestEnvironment(new AllocReport);
} // namespace
