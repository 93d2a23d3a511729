#pragma once
// What must hold for any command line and any argv, checked by the fuzz
// target and by the regression test alike. Returns "" when all is well, or
// a description of the first broken promise.
#include "app/CommandLine.h"
#include "app/ModeDispatch.h"

#include <string>
#include <string_view>
#include <vector>

namespace hakop::fuzz {

inline std::string checkLine(std::string_view line)
{
    for (CharWidth width : {utf8CharWidth, shiftJisCharWidth}) {
        const std::vector<std::string> all = words(line, width);
        if (modeArgument(line, width) != (all.size() > 1 ? all[1] : std::string()))
            return "word 1 differs from the second of all words";
        for (const std::string& w : all) {
            if (w.empty())
                return "an empty word in the middle";
            if (w.find('\0') != std::string::npos)
                return "a NUL inside a word";
            // Only a double-byte character can carry a quote byte into a word.
            if (width == utf8CharWidth && w.find('"') != std::string::npos)
                return "a quote inside a UTF-8 word";
        }
        modeFor(modeArgument(line, width));
    }
    return {};
}

// argv joined and split again gives back every element, with its quotes
// dropped; elements that are empty then are skipped like any quote pair.
inline std::string checkArgv(const std::vector<std::string>& args)
{
    std::vector<const char*> argv;
    std::vector<std::string> expected;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
        std::string stripped;
        for (char c : a)
            if (c != '"')
                stripped += c;
        if (!stripped.empty())
            expected.push_back(stripped);
    }
    const std::string line = joinArguments(args);
    if (words(line) != expected)
        return "argv does not survive joining: " + line;
    const Mode mode = modeForArguments(static_cast<int>(argv.size()), argv.data());
    if (mode != modeFor(expected.size() > 1 ? expected[1] : std::string()))
        return "argv picks another mode than its first argument";
    return checkLine(line);
}

} // namespace hakop::fuzz
