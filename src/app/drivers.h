// The two modes of the program and the choice between them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What a command line asks for: pack mode with its target, or apply mode.
struct ModeChoice {
  bool pack = false;
  std::wstring target;  // pack mode only
};

// Exactly three words with word 1 "-l" in any letter case select pack mode
// with word 2 as target; every other command line selects apply mode.
ModeChoice ChooseMode(const std::vector<std::wstring>& words);

// Appends a package built from "src" of the current directory to `target`.
int RunPackMode(const std::wstring& target);

// How many files and folders the last RunPackMode left out of the package
// it wrote (named in its trace); 0 when it wrote none.
std::size_t FilesLeftOutOfLastPack();

// Applies the package at the end of the carrier named by `programWord`
// (word 0 of the command line) to the game's install directory.
int RunApplyMode(const std::wstring& programWord);

// Reads the command line and runs the chosen mode. Returns 0.
int RunProgram();
