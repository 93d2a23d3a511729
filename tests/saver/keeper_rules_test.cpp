// The keeper's pure rules: when waiting for the grabs is worth a line.
#include "saver/x11/ScreenKeeper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> linesFor(const std::vector<std::pair<bool, bool>>& attempts)
{
    hakop::GrabWaitLog log;
    std::vector<std::string> lines;
    for (const auto& [held, refused] : attempts)
        if (const auto line = log.attempt(held, refused); !line.empty())
            lines.emplace_back(line);
    return lines;
}

TEST(GrabWaitLog, SaysOnceWhenWaitingStartsAndOnceWhenItEnds)
{
    // Held at once: nothing to say.
    EXPECT_TRUE(linesFor({{true, false}, {true, false}}).empty());
    // Not viewable yet is no refusal: still nothing.
    EXPECT_TRUE(linesFor({{false, false}, {false, false}, {true, false}}).empty());
    // Refused once, held at the retry: another client's passing grab, no wait.
    EXPECT_TRUE(linesFor({{false, true}, {true, false}, {false, true}, {false, false}, {true, false}}).empty());
    // Refused for many ticks, then held: two lines, whatever the count between.
    const auto lines = linesFor({{false, true}, {false, true}, {false, false}, {false, true}, {true, false}});
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("waiting"), std::string::npos);
    EXPECT_NE(lines[1].find("got"), std::string::npos);
    // A second wait later in the run is told again.
    EXPECT_EQ(linesFor({{false, true}, {false, true}, {true, false}, {false, true}, {false, true}, {true, false}}).size(),
              4u);
}

} // namespace
