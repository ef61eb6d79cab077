// The native program's options for publishers, in the Unix manner: --help,
// --version, --list PATCH, --verify PATCH and --check PATCH GAME. The native
// entry point asks them first; every command line they leave alone goes to
// the mode dispatch that the Windows program shares.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace publisher {

// Exit statuses of the publisher's options, as tar and git use them.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;  // the operation failed; the reason is on `err`
constexpr int kExitUsage = 2;    // the command line is wrong; one line on `err`
// Pack mode wrote the patch, but it lacks the files named on standard error.
constexpr int kExitPatchLacksFiles = 3;

// The environment variable that caps how many files pack mode compresses at
// once.
constexpr const char* kJobsVariable = "QUORVANE_JOBS";

// How many workers pack mode uses, given the value of kJobsVariable (null
// when unset): that number when it is a whole number from 1 to 1024, one per
// core when it is unset or empty; nothing when it holds anything else.
std::optional<unsigned> PackWorkers(const char* jobs);

// Runs the option that word 1 of `words` names, writing what it reports to
// `out` and its errors to `err`, and returns its exit status. A word 1 that
// begins with "--" but names no option, or an option with the wrong number
// of arguments, is a usage error. Returns nothing, having written nothing,
// when word 1 is no option ("-l", any other word without "--", or none):
// those command lines select pack or apply mode as they always have.
std::optional<int> RunPublisherOption(const std::vector<std::wstring>& words, std::ostream& out,
                                      std::ostream& err);

}  // namespace publisher
