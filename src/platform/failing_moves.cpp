// Failing the n-th file move on purpose, for the tests of the undo.
#include "platform/failing_moves.h"

#include "platform/platform.h"

namespace platform {
namespace {

unsigned g_movesUntilFailure = 0;  // 0: no move is made to fail
void (*g_beforeFailing)() = nullptr;

}  // namespace

void FailNthMoveForTesting(unsigned n, void (*beforeFailing)()) {
  g_movesUntilFailure = n;
  g_beforeFailing = beforeFailing;
}

bool MoveIsMadeToFail() {
  if (g_movesUntilFailure == 0 || --g_movesUntilFailure > 0) return false;
  if (g_beforeFailing != nullptr) g_beforeFailing();
  return true;
}

}  // namespace platform
