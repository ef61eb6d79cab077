// The fuzz target's assertions. A property that does not hold ends the
// process with a message; libFuzzer reports that as a crash and saves the
// input that caused it.
#pragma once

#include <string>

namespace fuzz {

// Prints "property violated: <what>" to standard error and aborts.
[[noreturn]] void Violated(const std::string& what);

inline void Require(bool holds, const char* what) {
  if (!holds) Violated(what);
}

}  // namespace fuzz
