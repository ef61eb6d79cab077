// Finding the game's install directory.
#pragma once

#include <optional>
#include <string>

// The directory that holds the game's engine: the per-user registry value
// when its directory holds the engine, else the current directory as ".\"
// (or the empty text when the registry has no value). Shows the
// not-installed message and gives nothing when neither holds it.
std::optional<std::wstring> FindInstallDir();
