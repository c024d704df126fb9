// Gives each test a run context of its own (update/RunContext.h), as each run of the program
// has: made before the test starts and destroyed, with every thread it owns, after it ends.
#include <gtest/gtest.h>

#include <memory>

#include "update/RunContext.h"

namespace vestrel::test {
namespace {

class FreshContext : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    context_ = std::make_unique<RunContext>();
    makeCurrentContext(context_.get());
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    context_.reset();
    makeCurrentContext(nullptr);
  }
  std::unique_ptr<RunContext> context_;
};

const bool kFreshContexts = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshContext);
  return true;
}();

}  // namespace
}  // namespace vestrel::test
