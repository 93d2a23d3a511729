// The in-process verifier over the PASSWORD.CPL stand-ins: when there is one
// at all, and what its answer means.
#include "saver/ModuleVerifier.h"

#include <gtest/gtest.h>

#include <string>

using hakop::ModuleVerifier;

namespace {

std::string standin(const char* dir)
{
    return std::string(HAKOP_STANDINS_DIR) + "/" + dir + "/PASSWORD.CPL";
}

} // namespace

TEST(ModuleVerifier, NoModuleOrNoEntryPointMeansNothingGuardsTheScreen)
{
    EXPECT_EQ(ModuleVerifier::load(standin("no-such-dir").c_str()), nullptr);
    EXPECT_EQ(ModuleVerifier::load(standin("missing-entry").c_str()), nullptr);
}

TEST(ModuleVerifier, OnlyTheLowestByteOfTheAnswerCounts)
{
    EXPECT_TRUE(ModuleVerifier::answerAllowsClose(1));
    EXPECT_TRUE(ModuleVerifier::answerAllowsClose(0x1ff));
    EXPECT_TRUE(ModuleVerifier::answerAllowsClose(-1));
    EXPECT_FALSE(ModuleVerifier::answerAllowsClose(0));
    EXPECT_FALSE(ModuleVerifier::answerAllowsClose(0x100));
    EXPECT_FALSE(ModuleVerifier::answerAllowsClose(0x7fffff00));
}

TEST(ModuleVerifier, AsksTheModuleItLoaded)
{
    auto accept = ModuleVerifier::load(standin("accept").c_str());
    ASSERT_NE(accept, nullptr);
    EXPECT_TRUE(accept->mayClose(0x1234));
    accept.reset();

    auto refuse = ModuleVerifier::load(standin("refuse256").c_str());
    ASSERT_NE(refuse, nullptr);
    EXPECT_FALSE(refuse->mayClose(0x1234));
}
