// Every message box the program shows. Only the drivers call these.
#pragma once

// Pack mode: the target cannot be opened for appending.
void ShowOutputOpenError();
// Pack mode: the package could not be written whole; the target was cut
// back to its size before the run.
void ShowOutputWriteError();
// Apply mode: no install directory holds the game's engine.
void ShowNotInstalled();
// Apply mode: asks whether to update; false only when the user said No.
bool ConfirmUpdate();
// Apply mode: a record could not be applied.
void ShowUpdateFailed();
// Apply mode: every record was applied.
void ShowUpdateComplete();
