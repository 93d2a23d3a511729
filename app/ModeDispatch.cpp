#include "ModeDispatch.h"

#include "CommandLine.h"

namespace hakop {

Mode modeFor(std::string_view argument)
{
    struct Key {
        std::string_view text;
        Mode mode;
    };
    static constexpr Key keys[] = {
        {"/s", Mode::Saver},   {"/S", Mode::Saver},   {"/a", Mode::PasswordChange},
        {"/A", Mode::PasswordChange}, {"/p", Mode::Preview}, {"/P", Mode::Preview},
    };
    for (const Key& key : keys)
        if (argument == key.text)
            return key.mode;
    return Mode::Settings;
}

Mode modeForArguments(int argc, const char* const* argv)
{
    return modeFor(modeArgument(joinArguments(argc, argv)));
}

} // namespace hakop
