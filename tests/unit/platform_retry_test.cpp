// The platform's one retry policy: a failure that may pass is tried again
// with growing pauses within a bounded budget; a lasting failure is not
// tried again, and a success on the first try pauses nothing.
#include <gtest/gtest.h>

#include <vector>

#include "platform/retry.h"

namespace {

using platform::Attempt;

TEST(RetryPolicyTest, RetriesOnlyWhatMayPassAndWithinTheBudget) {
  constexpr Attempt kT = Attempt::kTransient;
  struct Case {
    const char* name;
    std::vector<Attempt> tries;  // what each try gives; the last repeats
    bool succeeds;
    std::size_t triesMade;
    unsigned pausedMs;
  };
  const Case cases[] = {
      {"done at once", {Attempt::kDone}, true, 1, 0},
      {"a lasting failure", {Attempt::kFailed}, false, 1, 0},
      {"a brief hold", {kT, kT, Attempt::kDone}, true, 3, 150},
      {"a hold that turns into a lasting failure", {kT, Attempt::kFailed}, false, 2, 50},
      {"a hold that ends at the last try", {kT, kT, kT, kT, kT, kT, kT, Attempt::kDone}, true, 8, 3550},
      {"a hold that outlasts the budget", {kT}, false, 8, 3550},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t made = 0;
    unsigned paused = 0;
    const bool succeeded = platform::RetryTransient(
        [&] { return c.tries[std::min(made++, c.tries.size() - 1)]; },
        [&](unsigned milliseconds) { paused += milliseconds; });
    EXPECT_EQ(succeeded, c.succeeds);
    EXPECT_EQ(made, c.triesMade);
    EXPECT_EQ(paused, c.pausedMs);
  }
}

}  // namespace
