// The test hook behind FailNthMoveForTesting, shared by both implementations
// of MoveOverFile.
#pragma once

namespace platform {

// True when the move about to be made is the one a test asked to fail;
// counts the move otherwise.
bool MoveIsMadeToFail();

}  // namespace platform
