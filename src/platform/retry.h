// The one retry policy of the platform layer. A scanner or an indexer may
// hold a file for a moment, the way Windows virus scanners do with a file
// that was just written; a call that meets such a hold is tried again after
// a pause, with longer pauses each time, within a budget of a few seconds in
// all. A game that keeps its files open is still refused once the budget is
// spent. Each backend says which of its errors pass by themselves.
#pragma once

namespace platform {

// How one try of a call ended.
enum class Attempt {
  kDone,       // it succeeded
  kTransient,  // it failed with an error that may pass (a brief hold)
  kFailed,     // it failed for good
};

// The pauses between tries, in milliseconds: 8 tries over 3.55 s in all.
// The first pauses are short, since most holds are; the last ones cover a
// scan of a large file.
inline constexpr unsigned kRetryPauses[] = {50, 100, 200, 400, 800, 1000, 1000};

// How the last failed system call of this thread failed (errno on POSIX,
// GetLastError on Windows): kTransient for the errors that a brief hold
// gives, kFailed for every other. Defined by each backend.
Attempt LastFailure();

// `succeeded` as an Attempt, judging a failure by LastFailure().
inline Attempt Outcome(bool succeeded) { return succeeded ? Attempt::kDone : LastFailure(); }

// Waits `milliseconds`. Defined by each backend.
void PauseMilliseconds(unsigned milliseconds);

// Calls `attempt` (a callable returning an Attempt) until it is done or
// fails for good, pausing between tries with `pause(milliseconds)` as
// kRetryPauses says. True when a try succeeded; false when one failed for
// good or the last try still met a transient failure. A first try that
// succeeds costs nothing more than the call.
template <typename Try, typename Pause>
bool RetryTransient(Try&& attempt, Pause&& pause) {
  for (const unsigned milliseconds : kRetryPauses) {
    const Attempt result = attempt();
    if (result != Attempt::kTransient) return result == Attempt::kDone;
    pause(milliseconds);
  }
  return attempt() == Attempt::kDone;
}

// RetryTransient with the real pause.
template <typename Try>
bool RetryTransient(Try&& attempt) {
  return RetryTransient(attempt, PauseMilliseconds);
}

}  // namespace platform
