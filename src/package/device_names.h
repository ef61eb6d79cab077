// Names that Windows opens as devices wherever they stand in a path.
#pragma once

#include <string>

namespace package {

// True when the path component `name` is a device name that Windows
// reserves: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9 and LPT0-LPT9
// (the superscripts 1-3 count as port digits too), in any letter case,
// alone or followed by an extension ("nul.txt") and with spaces before the
// dot ("nul .txt"). The packer leaves such files out and the applier
// refuses such paths, by this one rule.
bool IsReservedDeviceName(const std::wstring& name);

}  // namespace package
