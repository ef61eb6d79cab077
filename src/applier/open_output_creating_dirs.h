// Creating an output file together with the directories it lacks.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace applier {

// Creates the file at `path`, which must not exist yet, and opens it "wb".
// When that fails, creates each missing directory on the path, shortest
// first, appending each one it created to `created`, and tries once more.
// Returns the stream, or null when the file cannot be created even then
// (it exists, or a directory cannot be made).
std::FILE* OpenOutputCreatingDirs(const std::wstring& path, std::vector<std::wstring>& created);

}  // namespace applier
