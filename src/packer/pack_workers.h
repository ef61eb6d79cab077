// How many files the native program compresses at once.
#pragma once

namespace packer {

// Sets the number of workers for the packs that follow: 1 packs one file
// after the other, on the calling thread, as the Windows program does; more
// compress that many files side by side, with the same bytes in the
// package. 0 counts as 1, which is also the number until this is called.
void SetPackWorkers(unsigned workers);

}  // namespace packer
