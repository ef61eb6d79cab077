// Failing the n-th file move on purpose, for the tests of the undo.
#include "platform/failing_moves.h"

#include "platform/platform.h"

namespace platform {
namespace {

unsigned g_movesUntilFailure = 0;  // 0: no move is made to fail

}  // namespace

void FailNthMoveForTesting(unsigned n) { g_movesUntilFailure = n; }

bool MoveIsMadeToFail() { return g_movesUntilFailure > 0 && --g_movesUntilFailure == 0; }

}  // namespace platform
