#include "connection/throttle.h"

#include <gtest/gtest.h>

using namespace telvora;

TEST(ThrottleDelay, ImitatesTheModemSpeeds) {
    EXPECT_EQ(ThrottleDelay(300), 27);
    EXPECT_EQ(ThrottleDelay(600), 13);
    EXPECT_EQ(ThrottleDelay(1200), 6);
    EXPECT_EQ(ThrottleDelay(2400), 3);
    EXPECT_EQ(ThrottleDelay(kUnthrottledSpeed), 0);
}

TEST(ThrottleDelay, SpeedsBelowEightBitsPerSecondDoNotDivideByZero) {
    EXPECT_EQ(ThrottleDelay(0), 1000);
    EXPECT_EQ(ThrottleDelay(7), 1000);
    EXPECT_EQ(ThrottleDelay(-5), 1000);
    EXPECT_EQ(ThrottleDelay(8), 1000);
    EXPECT_EQ(ThrottleDelay(16), 500);
}
