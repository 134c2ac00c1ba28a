// A gtest environment that reports, at the end of each test executable, how
// many fault points the harness drove.
#include "support/alloc_fault.h"

namespace {
class PointReport : public ::testing::Environment {
public:
  void TearDown() override { bqtest::detail::printPoints(); }
};
const auto* const g_env =
    ::testing::AddGlobalTestEnvironment(new PointReport);
} // namespace
