// The splitter, the argv joiner and the mode table.
#include "app/CommandLine.h"
#include "app/ModeDispatch.h"
#include "ReferenceSplitter.h" // tests/fuzz

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

using hakop::Mode;
using hakop::modeArgument;
using hakop::utf8CharWidth;
using hakop::word;
using hakop::testing::shiftJisCharWidth;
using Words = std::vector<std::string>;

namespace {
// Raw bytes, embedded NULs and all.
template <std::size_t N>
std::string bytes(const char (&text)[N])
{
    return std::string(text, N - 1);
}

// Every word the product splits the line into, asked for one by one.
Words words(std::string_view line)
{
    Words all;
    for (std::string w; !(w = word(line, static_cast<int>(all.size()))).empty();)
        all.push_back(w);
    return all;
}
} // namespace

TEST(CommandLine, HostLinesSelectTheirWord)
{
    struct Case {
        const char* line;
        const char* mode;
    };
    const Case cases[] = {
        {"hakop.scr /s", "/s"},
        {"hakop.scr /s ", "/s"},                 // a trailing blank only separates
        {"hakop.scr \"\" /s", "/s"},            // a quote pair before the word is skipped
        {"hakop.scr \"\"\"\" \"\" /s", "/s"},   // ...repeatedly, with blanks between
        {"hakop.scr \"\"/s", "/s"},             // ...also glued to the word
        {"hakop.scr /p 1234", "/p"},
        {"hakop.scr /c:1234", "/c:1234"},
        {"hakop.scr /s:1", "/s:1"},
        {"hakop.scr -s", "-s"},
        {"hakop.scr", ""},
        {"hakop.scr    ", ""},
        {"", ""},
        {"   ", ""},
        {"\"C:\\Program Files\\hakop.scr\" /S", "/S"},
        {"hakop\t/s\r\n", "/s"},                // control bytes are blanks too
        {"\x01hakop\x1f/a\x7f", "/a\x7f"},      // ...but DEL is not
        {"hakop \"/s", "/s"},                   // unmatched quote runs to the end
        {"hakop \"/s x", "/s x"},
        {"hakop /\"s\"", "/s"},                 // quotes inside a word are dropped
        {"hakop a\"b c\"d e", "ab cd"},
        {"\"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(modeArgument(c.line), c.mode) << "line: [" << c.line << "]";

    EXPECT_EQ(word("\"C:\\Program Files\\hakop.scr\" /S", 0), "C:\\Program Files\\hakop.scr");
    EXPECT_EQ(word("hakop.scr /p 1234", 2), "1234");
    EXPECT_EQ(word("hakop.scr /p 1234", 3), "");
    EXPECT_EQ(words("  a  \"b c\"d\te"), (Words{"a", "b cd", "e"}));
    // The line ends at its first NUL, as the platform's string would.
    EXPECT_EQ(modeArgument(bytes("hakop\0 /s")), "");
    EXPECT_EQ(modeArgument(bytes("hakop /s\0x")), "/s");
}

TEST(CommandLine, ShiftJisStepsOverDoubleByteCharacters)
{
    // 表 is 0x95 0x5C: its trail byte is a backslash, which must stay with it.
    const std::string path = "C:\\\x95\x5C\\hakop.scr";
    EXPECT_EQ(word("\"" + path + "\" /s", 0, shiftJisCharWidth), path);
    EXPECT_EQ(modeArgument(path + " /s", shiftJisCharWidth), "/s");

    // A lead byte takes whatever byte follows as its second half, even a blank
    // or a quote: neither ends the word nor opens a quoted stretch then.
    EXPECT_EQ(modeArgument("hakop /s\x81 x", shiftJisCharWidth), "/s\x81 x");
    EXPECT_EQ(modeArgument("hakop \x81\" /s", shiftJisCharWidth), "\x81\"");
    EXPECT_EQ(word("hakop \x81\" /s", 2, shiftJisCharWidth), "/s");
    EXPECT_EQ(modeArgument("hakop \"\x95\" /s", shiftJisCharWidth), "\x95\" /s");
    // Half-width katakana (0xA1-0xDF) are single bytes.
    EXPECT_EQ(modeArgument("hakop \xB1\"a b\"", shiftJisCharWidth), "\xB1" "a b");
    // A lead byte at the very end, or just before the NUL, reads no further.
    EXPECT_EQ(modeArgument("hakop /s\x81", shiftJisCharWidth), "/s\x81");
    EXPECT_EQ(modeArgument(bytes("hakop \x81\0/s"), shiftJisCharWidth), "\x81");
    EXPECT_EQ(shiftJisCharWidth(reinterpret_cast<const unsigned char*>("\x9F"), 1), 1u);
    EXPECT_EQ(shiftJisCharWidth(reinterpret_cast<const unsigned char*>("\xE0@"), 2), 2u);
    EXPECT_EQ(shiftJisCharWidth(reinterpret_cast<const unsigned char*>("\xFD@"), 2), 1u);
}

TEST(CommandLine, Utf8StepsByWholeSequencesAndNeverSwallowsSeparators)
{
    const std::string home = "/home/\xE3\x83\xA6\xE3\x83\xBC\xE3\x82\xB6/my saver"; // ユーザ
    EXPECT_EQ(words("\"" + home + "\" /s"), (Words{home, "/s"}));
    EXPECT_EQ(modeArgument("hakop \xF0\x9F\x98\x80/s"), "\xF0\x9F\x98\x80/s");

    // Broken sequences count byte by byte, so a blank or quote right after a
    // truncated lead byte keeps its meaning.
    EXPECT_EQ(words("hakop /s\xE3 x"), (Words{"hakop", "/s\xE3", "x"}));
    EXPECT_EQ(modeArgument("hakop \xE3\"/s x\""), "\xE3/s x");
    EXPECT_EQ(modeArgument("hakop \xE3\x83\" /s"), "\xE3\x83 /s");
    for (const char* single : {"\x80", "\xC0\x80", "\xC1\xBF", "\xF5\x80\x80\x80", "\xFF"})
        EXPECT_EQ(utf8CharWidth(reinterpret_cast<const unsigned char*>(single), std::char_traits<char>::length(single)), 1u)
            << "first byte " << int(static_cast<unsigned char>(single[0]));
    EXPECT_EQ(utf8CharWidth(reinterpret_cast<const unsigned char*>("\xE3\x83"), 2), 1u); // cut short
    // A whole character that ends exactly where the line ends.
    EXPECT_EQ(utf8CharWidth(reinterpret_cast<const unsigned char*>("\xE3\x83\xA6"), 3), 3u);
    EXPECT_EQ(utf8CharWidth(reinterpret_cast<const unsigned char*>("\xF0\x9F\x98\x80"), 4), 4u);
}

TEST(CommandLine, JoinedArgvSplitsBackIntoTheSameWords)
{
    const std::vector<Words> roundTrips = {
        {"hakop", "/s"},
        {"/usr/local/bin/my saver", "/S"},
        {"hakop", "/s x"},                       // one argument, so not the saver
        {"hakop", "\t", " "},
        {"hakop", "\xE3 x", "/s"},               // truncated UTF-8 before the closing quote
        {"hakop", "\xE3\x83\xA6 \xE3\x83\xBC", "/p"},
    };
    for (const Words& args : roundTrips)
        EXPECT_EQ(words(hakop::joinArguments(args)), args) << hakop::joinArguments(args);

    EXPECT_EQ(hakop::joinArguments(Words{"hakop", "/s"}), "hakop /s");
    // An empty element becomes a quote pair, which the splitter skips.
    EXPECT_EQ(hakop::joinArguments(Words{"hakop", "", "/s"}), "hakop \"\" /s");
    EXPECT_EQ(modeArgument(hakop::joinArguments(Words{"hakop", "", "/s"})), "/s");
    // Quotes cannot survive the splitter; dropping them keeps the element whole.
    EXPECT_EQ(hakop::joinArguments(Words{"hakop", "a\"b c", "/s"}), "hakop \"ab c\" /s");
    EXPECT_EQ(words(hakop::joinArguments(Words{"hakop", "a\"b c", "/s"})), (Words{"hakop", "ab c", "/s"}));
    EXPECT_EQ(modeArgument(hakop::joinArguments(Words{"hakop", "\"/s\""})), "/s");
    EXPECT_EQ(hakop::joinArguments(0, nullptr), "");
}

TEST(ModeDispatch, KeysAreWholeCaseSensitiveStrings)
{
    struct Case {
        const char* argument;
        Mode mode;
    };
    const Case cases[] = {
        {"/s", Mode::Saver},         {"/S", Mode::Saver},          {"/a", Mode::PasswordChange},
        {"/A", Mode::PasswordChange}, {"/p", Mode::Preview},        {"/P", Mode::Preview},
        {"/c", Mode::Settings},       {"/c:1234", Mode::Settings},  {"/s:1", Mode::Settings},
        {"-s", Mode::Settings},       {"", Mode::Settings},         {"s", Mode::Settings},
        {"/s ", Mode::Settings},      {"//s", Mode::Settings},      {"/SS", Mode::Settings},
        {"/p1234", Mode::Settings},   {"\xEF\xBC\x8Fs", Mode::Settings}, // full-width solidus
    };
    for (const Case& c : cases)
        EXPECT_EQ(hakop::modeFor(c.argument), c.mode) << "[" << c.argument << "]";
}

TEST(ModeDispatch, ArgvPicksTheModeFromTheFirstArgument)
{
    const auto mode = [](const Words& args) {
        std::vector<const char*> argv;
        for (const auto& a : args)
            argv.push_back(a.c_str());
        return hakop::modeForArguments(static_cast<int>(argv.size()), argv.data());
    };
    EXPECT_EQ(mode({"hakop", "/p", "1234"}), Mode::Preview);
    EXPECT_EQ(mode({"hakop", "/S", "extra"}), Mode::Saver);
    EXPECT_EQ(mode({"hakop", "", "/s"}), Mode::Saver);
    EXPECT_EQ(mode({"hakop", "/s x"}), Mode::Settings);
    EXPECT_EQ(mode({"hakop"}), Mode::Settings);
    // An empty program path is an empty word 0, which leaves no word 1.
    EXPECT_EQ(mode({"", "/s"}), Mode::Settings);
    EXPECT_EQ(mode({}), Mode::Settings);
}
