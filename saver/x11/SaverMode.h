#pragma once
namespace hakop {
// Saver mode: creates the saver window, then the frame store, and runs the
// event loop until the saver closes. Needs a QApplication. Returns the exit code.
int runSaverMode();
} // namespace hakop
