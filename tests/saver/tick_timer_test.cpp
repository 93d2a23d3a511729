// The saver's tick timer: ticks come one interval apart on their own thread,
// and once stop() returns no tick runs or will run.
#include "TickTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using hakop::TickTimer;

TEST(TickTimer, TicksOneIntervalApartUntilStopped)
{
    std::atomic<int> ticks = 0;
    std::atomic<bool> onCallerThread = false;
    const auto caller = std::this_thread::get_id();
    TickTimer timer([&] {
        onCallerThread = onCallerThread || std::this_thread::get_id() == caller;
        ++ticks;
    });
    timer.setInterval(20);
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(timer.interval(), 20);

    const auto started = Clock::now();
    timer.start();
    EXPECT_TRUE(timer.isActive());
    std::this_thread::sleep_for(210ms);
    timer.stop();
    const auto elapsed = Clock::now() - started;
    EXPECT_FALSE(timer.isActive());
    EXPECT_FALSE(onCallerThread);
    // Ten deadlines passed; a loaded machine may have let one or two slip,
    // but a tick never comes early or twice for one deadline.
    EXPECT_LE(ticks, elapsed / 20ms);
    EXPECT_GE(ticks, 6);

    const int atStop = ticks;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(ticks, atStop);
}

TEST(TickTimer, StopWaitsForTheTickUnderWay)
{
    std::atomic<bool> inTick = false;
    std::atomic<int> finished = 0;
    TickTimer timer([&] {
        inTick = true;
        std::this_thread::sleep_for(80ms);
        inTick = false;
        ++finished;
    });
    timer.setInterval(5);
    timer.start();
    while (!inTick)
        std::this_thread::sleep_for(1ms);
    timer.stop();
    EXPECT_FALSE(inTick);
    EXPECT_EQ(finished, 1);
}

TEST(TickTimer, ALateTickDelaysTheNextInsteadOfBunchingThem)
{
    std::atomic<int> ticks = 0;
    TickTimer timer([&] {
        if (++ticks == 1)
            std::this_thread::sleep_for(100ms); // five deadlines missed
    });
    timer.setInterval(20);
    timer.start();
    std::this_thread::sleep_for(130ms); // 20 ms, then 100 ms in the first tick
    timer.stop();
    EXPECT_LE(ticks, 2);
}

TEST(TickTimer, ChangingTheIntervalRestartsTheWait)
{
    std::atomic<int> ticks = 0;
    TickTimer timer([&] { ++ticks; });
    timer.setInterval(10000);
    timer.start();
    std::this_thread::sleep_for(20ms);
    timer.setInterval(10);
    std::this_thread::sleep_for(100ms);
    EXPECT_GE(ticks, 3) << "the ten-second wait went on";
    const int before = ticks;
    timer.setInterval(10000);
    std::this_thread::sleep_for(100ms);
    EXPECT_LE(ticks, before + 1);
    timer.stop();
}

TEST(TickTimer, AnIntervalSetDuringATickHoldsFromThatTickOn)
{
    std::atomic<int> ticks = 0;
    TickTimer* self = nullptr;
    TickTimer timer([&] {
        if (++ticks == 1)
            self->setInterval(10000); // as a handler of the tick might
    });
    self = &timer;
    timer.setInterval(10);
    timer.start();
    std::this_thread::sleep_for(150ms);
    timer.stop();
    EXPECT_EQ(ticks, 1) << "the old interval went on";
}

TEST(TickTimer, StartsAgainAfterStoppingAndStartingTwiceIsOneTimer)
{
    std::atomic<int> ticks = 0;
    TickTimer timer([&] { ++ticks; });
    timer.setInterval(30);
    timer.start();
    timer.start();
    std::this_thread::sleep_for(100ms);
    timer.stop();
    EXPECT_LE(ticks, 3) << "a second start made a second ticker";
    timer.start();
    std::this_thread::sleep_for(100ms);
    timer.stop();
    EXPECT_GE(ticks, 4);
}

} // namespace
