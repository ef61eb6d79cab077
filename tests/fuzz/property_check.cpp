// Reporting a violated property of the fuzz target.
#include "property_check.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

void Violated(const std::string& what) {
  std::fprintf(stderr, "\nproperty violated: %s\n", what.c_str());
  std::abort();
}

}  // namespace fuzz
