#pragma once
// Picks the mode from the first argument. The keys are compared as whole,
// case-sensitive strings, so "/s:1", "-s" or "/c" all mean settings.
#include <string_view>

namespace hakop {

enum class Mode { Saver, PasswordChange, Preview, Settings };

Mode modeFor(std::string_view argument);

// The mode for a process's argv: joined into one line, split, word 1.
Mode modeForArguments(int argc, const char* const* argv);

} // namespace hakop
