#include "CommandLine.h"

namespace hakop {

namespace {

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

bool isBlank(unsigned char b) { return b >= 1 && b <= 32; }

// The line as a C string would see it: up to the first NUL.
std::string_view untilNul(std::string_view line)
{
    const auto nul = line.find('\0');
    return nul == std::string_view::npos ? line : line.substr(0, nul);
}

// One word starting at 'pos'; advances 'pos' past it. Mirrors the classic
// runtime: skip blanks and leading quote pairs (repeatedly), then collect up
// to the next blank, with quoted stretches kept whole and quotes dropped.
std::string nextWord(std::string_view line, std::size_t& pos, CharWidth width)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t size = line.size();

    for (;;) {
        while (pos < size && isBlank(bytes[pos]))
            ++pos;
        if (pos + 1 < size && bytes[pos] == '"' && bytes[pos + 1] == '"')
            pos += 2;
        else
            break;
    }

    std::string result;
    auto take = [&] {
        const std::size_t n = width(bytes + pos, size - pos);
        result.append(line.substr(pos, n));
        pos += n;
    };
    while (pos < size && !isBlank(bytes[pos])) {
        if (bytes[pos] == '"') {
            ++pos;
            while (pos < size && bytes[pos] != '"')
                take();
            if (pos < size)
                ++pos; // the closing quote
        } else {
            take();
        }
    }
    return result;
}

bool needsQuotes(const std::string& arg)
{
    if (arg.empty())
        return true;
    for (unsigned char b : arg)
        if (isBlank(b) || b == '"')
            return true;
    return false;
}

} // namespace

std::size_t utf8CharWidth(const unsigned char* p, std::size_t remaining)
{
    const unsigned char b = p[0];
    std::size_t length = 1;
    if (b >= 0xC2 && b <= 0xDF)
        length = 2;
    else if (b >= 0xE0 && b <= 0xEF)
        length = 3;
    else if (b >= 0xF0 && b <= 0xF4)
        length = 4;
    if (length == 1 || length > remaining)
        return 1;
    for (std::size_t i = 1; i < length; ++i)
        if (!isContinuation(p[i]))
            return 1;
    return length;
}

std::string word(std::string_view line, int n, CharWidth width)
{
    line = untilNul(line);
    std::size_t pos = 0;
    std::string result;
    for (int i = 0;; ++i) {
        result = nextWord(line, pos, width);
        if (i >= n || result.empty())
            break;
    }
    return result;
}

std::string modeArgument(std::string_view line, CharWidth width)
{
    return word(line, 1, width);
}

std::string joinArguments(const std::vector<std::string>& args)
{
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty())
            line += ' ';
        if (!needsQuotes(arg)) {
            line += arg;
            continue;
        }
        line += '"';
        for (char c : arg)
            if (c != '"')
                line += c;
        line += '"';
    }
    return line;
}

std::string joinArguments(int argc, const char* const* argv)
{
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv[i] != nullptr; ++i)
        args.emplace_back(argv[i]);
    return joinArguments(args);
}

} // namespace hakop
