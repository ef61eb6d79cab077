// The source tree walk. Records are not written yet: the walk appends none.
#include "packer/append_tree.h"

bool AppendTree(const std::wstring&) { return true; }
