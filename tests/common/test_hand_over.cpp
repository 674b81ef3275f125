#include "common/hand_over.h"

#include "qt_event_wait.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace telvora;

namespace {

using namespace std::chrono_literals;

// Runs body on a worker thread; the future tells when it has returned.
std::future<bool> OnWorker(std::function<bool()> body) {
    return std::async(std::launch::async, std::move(body));
}

bool Ready(const std::future<bool>& result) {
    return result.wait_for(0ms) == std::future_status::ready;
}

TEST(HandOver, OnTheOwnerThreadAStepRunsAtOnce) {
    THandOver handOver;
    bool ran = false;
    EXPECT_TRUE(handOver.RunAndWait([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(HandOver, AWorkersStepRunsOnTheOwnerThreadWhileTheWorkerWaits) {
    THandOver handOver;
    QThread* const owner = QThread::currentThread();
    std::atomic<bool> onOwner{false};
    auto result = OnWorker(
        [&] { return handOver.RunAndWait([&] { onOwner = QThread::currentThread() == owner; }); });
    ASSERT_TRUE(ProcessEventsUntil([&] { return Ready(result); }));
    EXPECT_TRUE(result.get());
    EXPECT_TRUE(onOwner);
}

TEST(HandOver, StepsRunInTheOrderTheyWereAskedFor) {
    THandOver handOver;
    std::vector<int> order;
    auto result = OnWorker([&] {
        for (int i = 0; i < 50; ++i) {
            handOver.Post([&order, i] { order.push_back(i); });
        }
        return handOver.RunAndWait([&] { order.push_back(50); });
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return Ready(result); }));
    ASSERT_EQ(order.size(), 51u);
    for (int i = 0; i <= 50; ++i) {
        EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

TEST(HandOver, WhatTheStepThrowsReachesTheWorker) {
    THandOver handOver;
    auto result = OnWorker([&] {
        try {
            handOver.RunAndWait([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error& error) {
            return std::string(error.what()) == "handler failed";
        }
        return false;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return Ready(result); }));
    EXPECT_TRUE(result.get());
}

TEST(HandOver, ShutDownWakesAWaitingWorkerWithoutRunningItsStep) {
    THandOver handOver;
    std::atomic<bool> ran{false};
    std::atomic<bool> asked{false};
    // The owner thread is busy (not serving events) while the worker asks.
    auto result = OnWorker([&] {
        asked = true;
        return handOver.RunAndWait([&] { ran = true; });
    });
    while (!asked) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(20ms);
    handOver.ShutDown();
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(result.get());
    ProcessEventsFor(20);
    EXPECT_FALSE(ran);
}

TEST(HandOver, AfterShutDownEveryRequestIsRefused) {
    THandOver handOver;
    handOver.ShutDown();
    bool ran = false;
    EXPECT_FALSE(handOver.RunAndWait([&] { ran = true; }));
    EXPECT_FALSE(handOver.Post([&] { ran = true; }));
    auto result = OnWorker([&] { return handOver.RunAndWait([&] { ran = true; }); });
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(result.get());
    ProcessEventsFor(20);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(handOver.ShuttingDown());
}

TEST(HandOver, PostedStepsOfADestroyedHandOverNeverRun) {
    bool ran = false;
    {
        THandOver handOver;
        auto result = OnWorker([&] { return handOver.Post([&] { ran = true; }); });
        EXPECT_TRUE(result.get());
    }
    ProcessEventsFor(20);
    EXPECT_FALSE(ran);
}

TEST(HandOver, ShutDownFromInsideTheStepReleasesItsWorker) {
    // A handler that closes its own component: the worker must not wait for
    // a step that waits for the worker.
    THandOver handOver;
    std::atomic<bool> workerDone{false};
    bool workerFreedInsideStep = false;
    auto result = OnWorker([&] {
        const bool ran = handOver.RunAndWait([&] {
            handOver.ShutDown();
            workerFreedInsideStep = ProcessEventsUntil([&] { return workerDone.load(); }, 5000);
        });
        workerDone = true;
        return ran;
    });
    ASSERT_TRUE(ProcessEventsUntil([&] { return Ready(result); }));
    EXPECT_FALSE(result.get());
    EXPECT_TRUE(workerFreedInsideStep);
}

TEST(HandOver, StepsGoToTheThreadItWasMadeFor) {
    QThread* const owner = QThread::currentThread();
    // Made on a worker for the owner thread, as a port opened by a
    // connection thread hands its events to the window's thread.
    std::unique_ptr<THandOver> forOwner;
    std::thread maker([&] { forOwner = std::make_unique<THandOver>(owner); });
    maker.join();
    std::atomic<bool> onOwner{false};
    auto result = OnWorker(
        [&] { return forOwner->RunAndWait([&] { onOwner = QThread::currentThread() == owner; }); });
    ASSERT_TRUE(ProcessEventsUntil([&] { return Ready(result); }));
    EXPECT_TRUE(result.get());
    EXPECT_TRUE(onOwner);
}

} // namespace
