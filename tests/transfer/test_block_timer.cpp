// The block timer that the line's thread re-arms with every block: it must
// never tick before its interval has passed since the last arming, tick
// periodically after that, and stay quiet once disabled.

#include "transfer/block_timer.h"

#include "qt_event_wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace telvora;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

struct Ticks {
    std::vector<Clock::time_point> at;
    TBlockTimer timer{[this] { at.push_back(Clock::now()); }};
};

void ServeEventsFor(std::chrono::milliseconds period) {
    const auto until = Clock::now() + period;
    ProcessEventsUntil([&] { return Clock::now() >= until; }, 10000);
}

TEST(BlockTimer, TicksAfterItsIntervalAndThenAgainEveryInterval) {
    Ticks ticks;
    const auto armed = Clock::now();
    ticks.timer.Arm(40);
    ASSERT_TRUE(ProcessEventsUntil([&] { return ticks.at.size() >= 3; }));
    EXPECT_GE(ticks.at[0] - armed, 40ms);
    EXPECT_GE(ticks.at[1] - ticks.at[0], 40ms);
    EXPECT_GE(ticks.at[2] - ticks.at[1], 40ms);
    EXPECT_TRUE(ticks.timer.Active());
}

TEST(BlockTimer, ReArmingFromAnotherThreadPutsTheTickOff) {
    Ticks ticks;
    ticks.timer.Arm(80);
    std::atomic<bool> done{false};
    Clock::time_point lastArmed;
    std::thread line([&] {
        for (int i = 0; i < 60; ++i) {
            lastArmed = Clock::now();
            ticks.timer.Arm(80);
            std::this_thread::sleep_for(5ms);
        }
        done = true;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return done.load() && !ticks.at.empty(); }));
    line.join();
    ASSERT_FALSE(ticks.at.empty());
    EXPECT_GE(ticks.at.front() - lastArmed, 80ms) << "no tick while blocks keep coming";
}

TEST(BlockTimer, ASoonerArmingIsNotHeldUpByAnEarlierLongerOne) {
    Ticks ticks;
    ticks.timer.Arm(60000);
    std::thread line([&] { ticks.timer.Arm(30); });
    line.join();
    EXPECT_TRUE(ProcessEventsUntil([&] { return !ticks.at.empty(); }, 5000));
    EXPECT_EQ(ticks.timer.Interval(), 30);
}

TEST(BlockTimer, ADisabledTimerStaysQuietUntilArmedAgain) {
    Ticks ticks;
    ticks.timer.Arm(30);
    std::thread line([&] { ticks.timer.Disable(); });
    line.join();
    EXPECT_FALSE(ticks.timer.Active());
    ServeEventsFor(150ms);
    EXPECT_TRUE(ticks.at.empty());
    std::thread again([&] { ticks.timer.Arm(30); });
    again.join();
    EXPECT_TRUE(ProcessEventsUntil([&] { return !ticks.at.empty(); }, 5000));
}

} // namespace
