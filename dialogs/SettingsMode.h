#pragma once
namespace hakop {
// Settings mode: creates the settings dialog, then the hidden About box, and
// runs the event loop until the dialog closes. Needs a QApplication.
int runSettingsMode();
} // namespace hakop
