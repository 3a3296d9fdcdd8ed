// The shell operations that the main dialog and its menus call.
#pragma once
#include <cstdint>

// Shows the tray icon and hides the main dialog. Returns 0.
int32_t OVSendToTray();

// Removes the tray icon and ends the message loop with exit code 0.
// Returns 1.
int32_t OVDoSafeExit();

// Starts the external updater "ovUpdate" from the program folder. When it
// cannot be started, "Error Start The Update Progress..." goes into the
// information field and 0 is returned. When it started, the single-instance
// mutex is released and the process ends at once (through
// gShellProcess.exitProcess when a test set one; then 1 is returned).
int32_t DoUpdateRutine();

// Enables or disables the command controls around a scan; the scan image
// and the About image stay usable. Returns the argument.
int32_t EnableScanButtonState(int32_t enable);

// The elapsed scan time in control 1062, one step a second while the
// scanning flag is set: started by the scan start, stopped at its end (the
// last value stays). Runs on the user-interface thread. Returns 0.
int32_t ScanTimerCounterThread(void* ignored = nullptr);
void StopScanTimerCounterThread();
