// What the POSIX entry point hands to the platform layer and takes back.
#pragma once

namespace platform::posix {

// Keeps the program's arguments for CommandLineWords().
void SetArguments(int argc, char** argv);

// 0, or 1 once the run has shown an error or failure box.
int ExitStatus();

// Records that an error or failure box was shown.
void NoteErrorShown();

}  // namespace platform::posix
