// The parts a live line is paced and woken with, and its capture file.
#include "connection/capture_file.h"
#include "connection/pacer.h"
#include "connection/wake_up.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <unistd.h>

using namespace telvora;
using namespace std::chrono_literals;

namespace {

using Clock = TPacer::Clock;

TEST(Pacer, BytesAreDueOnARunningDeadlineNotAfterEachWrite) {
    TPacer pacer;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(pacer.NextDue(27, start), start + 27ms);
    // Written late (the write took 10 ms): the next is still due 27 ms after the last was due.
    EXPECT_EQ(pacer.NextDue(27, start + 37ms), start + 54ms);
    EXPECT_EQ(pacer.NextDue(27, start + 60ms), start + 81ms);
}

TEST(Pacer, APauseOrAStallStartsAgainFromNowWithoutABurst) {
    TPacer pacer;
    const Clock::time_point start = Clock::now();
    pacer.NextDue(3, start);
    // Lateness within the stall limit is made up...
    EXPECT_EQ(pacer.NextDue(3, start + 40ms), start + 6ms);
    // ...a longer pause in the data is not.
    const Clock::time_point later = start + 2s;
    EXPECT_EQ(pacer.NextDue(3, later), later + 3ms);
    // A restart (a new speed) starts from now, even when on time.
    pacer.Restart();
    EXPECT_EQ(pacer.NextDue(6, later + 1ms), later + 7ms);
}

TEST(Pacer, HoldsTheRateOfTheLineOverManyBytes) {
    TPacer pacer;
    const auto start = Clock::now();
    for (int i = 0; i < 50; ++i) {
        pacer.WaitForNext(3);
    }
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 150ms);
    EXPECT_LT(elapsed, 1500ms); // generous: a loaded machine oversleeps
}

TEST(WakeUp, WaitsItsPeriodWhenNothingHappens) {
    TWakeUp wake;
    const auto start = Clock::now();
    EXPECT_FALSE(wake.WaitFor(30ms));
    EXPECT_GE(Clock::now() - start, 30ms);
}

TEST(WakeUp, AWakeWhileBusyIsKeptForTheNextWaitAndCountsOnce) {
    TWakeUp wake;
    wake.Notify();
    wake.Notify();
    const auto start = Clock::now();
    EXPECT_TRUE(wake.WaitFor(5s));
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(wake.WaitFor(10ms));
}

TEST(WakeUp, ANotifyFromAnotherThreadEndsTheWaitAtOnce) {
    TWakeUp wake;
    std::thread notifier([&] {
        std::this_thread::sleep_for(20ms);
        wake.Notify();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(wake.WaitFor(10s));
    EXPECT_LT(Clock::now() - start, 5s);
    notifier.join();
}

class CaptureFileTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove(path); }
    std::string Contents() {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    const std::string path =
        (std::filesystem::temp_directory_path() / ("telvora-capture." + std::to_string(getpid())))
            .string();
};

TEST_F(CaptureFileTest, KeepsEveryBlockAsTakenAndReplacesAnOldFile) {
    {
        std::ofstream old(path);
        old << "an older capture";
    }
    TCaptureFile capture;
    const std::uint8_t nothing[] = {0};
    capture.Append(nothing, 1); // off: ignored
    capture.Open(path);
    EXPECT_TRUE(capture.IsOpen());
    const std::uint8_t first[] = {'A', 0, 255, 155};
    const std::uint8_t second[] = {'Z'};
    capture.Append(first, sizeof first);
    // On disk at once, before capture is switched off.
    EXPECT_EQ(Contents(), std::string("A\0\xff\x9b", 4));
    capture.Append(second, sizeof second);
    capture.Close();
    EXPECT_FALSE(capture.IsOpen());
    capture.Append(second, sizeof second);
    EXPECT_EQ(Contents(), std::string("A\0\xff\x9bZ", 5));
}

TEST_F(CaptureFileTest, AFileThatCannotBeMadeOrWrittenSaysWhyAndCaptureIsOff) {
    TCaptureFile capture;
    try {
        capture.Open("/nonexistent-folder/capture");
        FAIL() << "opened";
    } catch (const ECaptureError& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent-folder/capture"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find("No such file or directory"), std::string::npos);
    }
    EXPECT_FALSE(capture.IsOpen());

    capture.Open("/dev/full");
    const std::uint8_t block[] = {1, 2, 3};
    EXPECT_THROW(capture.Append(block, sizeof block), ECaptureError);
    EXPECT_FALSE(capture.IsOpen());
    EXPECT_NO_THROW(capture.Append(block, sizeof block));
}

} // namespace
