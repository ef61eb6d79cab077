// The verifier: whether a patch would apply cleanly, judged as apply mode
// judges it, and whether a signature covers its package.
#pragma once

#include <ostream>
#include <string>

namespace publisher {

// Reads the trailer and every record of the patch's package with apply
// mode's reader, inflates every stream (zlib checks its Adler-32), judges
// every path by the applier's containment and device-name rules and its
// path limit, and checks that nothing but a certificate table follows the
// package and that, in a signed patch, the package lies inside what the
// signature covers. Writes one line to `out` when all holds and returns
// true; otherwise names the first fault on `err` and returns false.
bool VerifyPackage(const std::wstring& patchPath, std::ostream& out, std::ostream& err);

}  // namespace publisher
