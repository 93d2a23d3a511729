// The saver's tick timer: ticks come one interval apart on their own thread,
// and once stop() returns no tick runs or will run.
#include "platform/TickTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using hakop::platform::TickTimer;

// Polls until `done` holds or two seconds pass: a loaded machine may starve
// the ticker for a while, which is no fault of the timer.
template <class Done>
bool eventually(Done done)
{
    for (const auto end = Clock::now() + 2s; !done(); std::this_thread::sleep_for(1ms))
        if (Clock::now() > end)
            return false;
    return true;
}

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
    EXPECT_TRUE(eventually([&] { return ticks >= 10; }));
    timer.stop();
    const auto elapsed = Clock::now() - started;
    EXPECT_FALSE(timer.isActive());
    EXPECT_FALSE(onCallerThread);
    // A tick may come late, never early or twice for one deadline.
    EXPECT_LE(ticks, elapsed / 20ms);

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
    Clock::time_point firstEnded, secondStarted;
    TickTimer timer([&] {
        if (++ticks == 1) {
            std::this_thread::sleep_for(100ms); // five deadlines missed
            firstEnded = Clock::now();
        } else if (ticks == 2) {
            secondStarted = Clock::now();
        }
    });
    timer.setInterval(20);
    timer.start();
    ASSERT_TRUE(eventually([&] { return ticks >= 2; }));
    timer.stop();
    // Catching up would run the missed ticks back to back.
    EXPECT_GE(secondStarted - firstEnded, 19ms);
}

TEST(TickTimer, ChangingTheIntervalRestartsTheWait)
{
    std::atomic<int> ticks = 0;
    TickTimer timer([&] { ++ticks; });
    timer.setInterval(10000);
    timer.start();
    std::this_thread::sleep_for(20ms);
    timer.setInterval(10);
    EXPECT_TRUE(eventually([&] { return ticks >= 3; })) << "the ten-second wait went on";
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
    const auto started = Clock::now();
    timer.start();
    timer.start();
    std::this_thread::sleep_for(100ms);
    timer.stop();
    EXPECT_LE(ticks, (Clock::now() - started) / 30ms) << "a second start made a second ticker";
    const int before = ticks;
    timer.start();
    EXPECT_TRUE(eventually([&] { return ticks > before; }));
    timer.stop();
}

} // namespace
