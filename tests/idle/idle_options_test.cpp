// The watcher's command line and where it takes the saver from.
#include "IdleOptions.h"
#include "SaverChild.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <sys/stat.h>

using namespace hakop::idle;

TEST(IdleOptions, TakesSecondsInBothSpellingsAndDefaultsToTenMinutes)
{
    EXPECT_EQ(parseIdleOptions({}).seconds, 600u);
    EXPECT_EQ(parseIdleOptions({"--after", "2"}).seconds, 2u);
    EXPECT_EQ(parseIdleOptions({"--after=86400"}).seconds, 86400u);
    EXPECT_TRUE(parseIdleOptions({"--help"}).help);
}

TEST(IdleOptions, RefusesWhatIsNotACountOfSecondsInRange)
{
    for (const char* bad : {"", "abc", "2s", "0", "-5", "+5", "86401", "99999999999999999999", " 2"})
        EXPECT_THROW(parseIdleOptions({"--after", bad}), UsageError) << '"' << bad << '"';
    EXPECT_THROW(parseIdleOptions({"--after"}), UsageError);
    EXPECT_THROW(parseIdleOptions({"/s"}), UsageError);
}

namespace {

void makeProgram(const QString& file)
{
    std::ofstream(file.toStdString()) << "#!/bin/sh\n";
    ::chmod(file.toLocal8Bit().constData(), 0755);
}

} // namespace

TEST(FindSaver, TakesTheOneBesideFirstThenPathButNeverTheCurrentFolder)
{
    QTemporaryDir beside, onPath, current;
    makeProgram(onPath.path() + "/hakop");
    makeProgram(current.path() + "/hakop");
    const std::string path = onPath.path().toStdString();
    ASSERT_EQ(::chdir(current.path().toLocal8Bit().constData()), 0);

    EXPECT_EQ(findSaver(beside.path().toStdString(), path.c_str()), path + "/hakop");
    makeProgram(beside.path() + "/hakop");
    EXPECT_EQ(findSaver(beside.path().toStdString(), path.c_str()), beside.path().toStdString() + "/hakop");
    // Empty and relative entries name the current folder.
    EXPECT_EQ(findSaver("/nonexistent", ":.:bin"), std::nullopt);
    EXPECT_EQ(findSaver("/nonexistent", nullptr), std::nullopt);
}
