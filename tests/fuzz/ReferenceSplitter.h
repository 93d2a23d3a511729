#pragma once
// Test-side helpers for the command-line splitter: a second encoding to step
// by, and an independent splitter written as a small state machine over whole
// characters, to check the product's word() against on any line.
#include "app/CommandLine.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hakop::testing {

// Shift-JIS (code page 932): lead bytes 0x81-0x9F and 0xE0-0xFC take two bytes
// whatever follows them, except at the very end of the line.
inline std::size_t shiftJisCharWidth(const unsigned char* p, std::size_t remaining)
{
    const unsigned char b = p[0];
    const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    return lead && remaining >= 2 ? 2 : 1;
}

// Every word of the line up to (not including) the first empty one: the line
// is cut at its first NUL and into characters first, then read as
// between words / in a word / inside quotes.
inline std::vector<std::string> referenceWords(std::string_view line, CharWidth width)
{
    line = line.substr(0, line.find('\0'));
    std::vector<std::string_view> chars;
    for (std::size_t pos = 0; pos < line.size();) {
        const std::size_t n = width(reinterpret_cast<const unsigned char*>(line.data()) + pos, line.size() - pos);
        chars.push_back(line.substr(pos, n));
        pos += n;
    }
    auto blank = [](std::string_view c) { return c.size() == 1 && c[0] >= 1 && c[0] <= 32; };
    auto quote = [](std::string_view c) { return c == "\""; };

    enum class State { Between, InWord, Quoted } state = State::Between;
    std::vector<std::string> result;
    std::string current;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        const std::string_view c = chars[i];
        switch (state) {
        case State::Between:
            if (blank(c))
                break;
            if (quote(c) && i + 1 < chars.size() && quote(chars[i + 1])) {
                ++i; // a quote pair before a word is no word
                break;
            }
            state = State::InWord;
            [[fallthrough]];
        case State::InWord:
            if (blank(c)) {
                if (current.empty())
                    return result;
                result.push_back(current);
                current.clear();
                state = State::Between;
            } else if (quote(c)) {
                state = State::Quoted;
            } else {
                current += c;
            }
            break;
        case State::Quoted:
            if (quote(c))
                state = State::InWord;
            else
                current += c;
            break;
        }
    }
    if (!current.empty())
        result.push_back(current);
    return result;
}

} // namespace hakop::testing
