// Command lines that once could have gone wrong: long, unbalanced, broken.
// Each must select a mode and keep the splitter's promises.
#include "Invariants.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using hakop::fuzz::checkArgv;
using hakop::fuzz::checkLine;

TEST(NastyCommandLines, KeepTheSplittersPromises)
{
    std::string everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte += static_cast<char>(b);
    const std::vector<std::string> lines = {
        std::string(1 << 20, '"'),
        std::string((1 << 20) + 1, '"'),
        "hakop " + std::string(100000, ' ') + "/s",
        std::string(50000, '\x81'),
        std::string(50001, '\xE3'),
        "\"\"\"\"\"\"\"",
        "hakop \"/s",
        "hakop /s\x81",
        "hakop /s\xF0\x9F\x98",
        "\xE3\"\xE3\" \xE3",
        everyByte,
        everyByte + everyByte,
        std::string("a\0\"\0b", 5),
    };
    for (const std::string& line : lines)
        EXPECT_EQ(checkLine(line), "") << line.substr(0, 40);
    EXPECT_EQ(hakop::modeArgument("hakop " + std::string(100000, ' ') + "/s"), "/s");
}

TEST(NastyCommandLines, ArgvSurvivesJoining)
{
    const std::vector<std::vector<std::string>> argvs = {
        {},
        {""},
        {"", "", ""},
        {"\"", "\"\"", "/s"},
        {"hakop", "\"/s", "x\""},
        {"hakop", "\xE3", "\xE3 \xE3", "\x81\""},
        {"hakop", std::string(100000, 'x') + " " + std::string(100000, '"')},
        {"hakop", "\t\n\r\x1f", "\x7f"},
    };
    for (const auto& args : argvs)
        EXPECT_EQ(checkArgv(args), "");
}
