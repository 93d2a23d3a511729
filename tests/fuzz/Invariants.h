#pragma once
// What must hold for any command line and any argv, checked by the fuzz
// target and by the regression test alike. Returns "" when all is well, or
// a description of the first broken promise.
#include "ReferenceSplitter.h"
#include "app/CommandLine.h"
#include "app/ModeDispatch.h"

#include <string>
#include <string_view>
#include <vector>

namespace hakop::fuzz {

// The product's word(line, k) against the reference splitter's words, at the
// first few places and around the end (asking for every word would make a
// long line quadratic). Past the last word the product must give "".
inline std::string checkWordsAgainst(std::string_view line, CharWidth width, const std::vector<std::string>& all)
{
    const int n = static_cast<int>(all.size());
    for (int k : {0, 1, 2, 3, n - 1, n, n + 1}) {
        if (k < 0)
            continue;
        const std::string w = word(line, k, width);
        const std::string expected = k < n ? all[static_cast<std::size_t>(k)] : std::string();
        if (w != expected)
            return "word " + std::to_string(k) + " is [" + w.substr(0, 60) + "], the reference splitter says ["
                + expected.substr(0, 60) + "]";
        if (w.find('\0') != std::string::npos)
            return "a NUL inside a word";
        // Only a double-byte character can carry a quote byte into a word.
        if (width == utf8CharWidth && w.find('"') != std::string::npos)
            return "a quote inside a UTF-8 word";
    }
    if (modeArgument(line, width) != word(line, 1, width))
        return "the mode argument is not word 1";
    return {};
}

inline std::string checkLine(std::string_view line)
{
    for (CharWidth width : {utf8CharWidth, testing::shiftJisCharWidth}) {
        if (std::string problem = checkWordsAgainst(line, width, testing::referenceWords(line, width)); !problem.empty())
            return problem;
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
    if (testing::referenceWords(line, utf8CharWidth) != expected)
        return "argv does not survive joining: " + line;
    if (std::string problem = checkWordsAgainst(line, utf8CharWidth, expected); !problem.empty())
        return problem;
    const Mode mode = modeForArguments(static_cast<int>(argv.size()), argv.data());
    if (mode != modeFor(expected.size() > 1 ? expected[1] : std::string()))
        return "argv picks another mode than its first argument";
    return checkLine(line);
}

} // namespace hakop::fuzz
