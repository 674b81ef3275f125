// The transfer run around a state machine: the block timer that the line's
// thread re-arms with every block (never a tick before its interval has
// passed since the last arming, periodic after that, quiet once disabled),
// the cancel carried out on the run's own thread, news taken outside the
// machine's lock, a thread that lives as long as its transfer, and the
// other side's bytes kept off the screen after a cancel.

#include "transfer/transfer_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace telvora;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// A machine that notes its ticks and lets the test drive its port. Its lock
// is held while it calls the port, as the real machines do.
class FakeMachine : public TTransferMachine {
public:
    explicit FakeMachine(TTransferPort& port) : m_port(port) {}
    template <typename Step> auto Locked(Step step) const {
        std::lock_guard lock(m_mutex);
        return step();
    }
    void Start() override {
        Locked([&] { m_port.ArmTimer(m_firstTickMs); });
    }
    std::size_t Receive(const std::uint8_t*, std::size_t count) override {
        return Running() ? count : 0;
    }
    bool Streams() const override { return streams; }
    void Tick() override {
        Locked([&] { ticks.push_back(Clock::now()); });
    }
    void Cancel() override {
        Locked([&] {
            cancelledOn = std::this_thread::get_id();
            m_port.Cancelled({0x18, 0x18, 0x18});
            EndLocked(TTransferOutcome::CancelledHere);
        });
    }
    void LineLost() override {}
    void LineSilent() override {
        Locked([&] {
            ++silences;
            EndLocked(TTransferOutcome::TimedOut);
        });
    }
    bool Running() const override {
        return Locked([&] { return m_running; });
    }
    TTransferProgress Progress() const override {
        return Locked([&] { return m_progress; });
    }
    void EndLocked(TTransferOutcome outcome) {
        m_running = false;
        m_progress.ended = true;
        m_progress.outcome = outcome;
        m_port.DisableTimer();
        m_port.ShowProgress(m_progress);
        m_port.EndTransferMode();
    }
    TTransferPort& Port() { return m_port; }

    std::vector<Clock::time_point> ticks; // guarded by the lock
    std::thread::id cancelledOn;
    int silences = 0; // guarded by the lock
    int m_firstTickMs = 40;
    bool streams = false;

private:
    TTransferPort& m_port;
    mutable std::mutex m_mutex;
    bool m_running = true;
    TTransferProgress m_progress;
};

class NoLine : public TTransferLine {
public:
    void SendTransferBytes(const std::uint8_t*, int count) override { sent += count; }
    std::atomic<int> sent{0};
};

// Takes the news on a thread of its own, as the user-interface thread would
// after the posted step: asking the machine's progress there must not block.
class Owner : public TTransferRun::TObserver {
public:
    void TransferNews() override { ++told; }
    std::atomic<int> told{0};
};

class TransferRun : public ::testing::Test {
protected:
    void SetUp() override { Make(TTransferRun::kSilenceLimit); }
    void Make(std::chrono::milliseconds silenceLimit) {
        run = std::make_unique<TTransferRun>(
            line, owner,
            [this](TTransferPort& port) {
                auto made = std::make_unique<FakeMachine>(port);
                machine = made.get();
                return made;
            },
            silenceLimit);
    }
    int Silences() const {
        return machine->Locked([&] { return machine->silences; });
    }
    std::size_t Ticks() const {
        return machine->Locked([&] { return machine->ticks.size(); });
    }
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        for (const auto until = Clock::now() + limit; !done(); std::this_thread::sleep_for(2ms)) {
            if (Clock::now() > until) {
                return false;
            }
        }
        return true;
    }
    bool WaitForTicks(std::size_t count) {
        return WaitFor([&] { return Ticks() >= count; });
    }
    // Re-arms the timer as the line's thread does, with the machine's lock held.
    void ArmOnLineThread(int intervalMs) {
        std::thread([&] { machine->Locked([&] { machine->Port().ArmTimer(intervalMs); }); }).join();
    }
    int Receive(const std::string& bytes) {
        return run->ReceiveChunk(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                 static_cast<int>(bytes.size()));
    }

    NoLine line;
    Owner owner;
    FakeMachine* machine = nullptr;
    std::unique_ptr<TTransferRun> run;
};

TEST_F(TransferRun, TicksAfterItsIntervalAndThenAgainEveryInterval) {
    const auto armed = Clock::now();
    run->Start();
    ASSERT_TRUE(WaitForTicks(3));
    machine->Locked([&] {
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_GE(machine->ticks[i] - (i == 0 ? armed : machine->ticks[i - 1]), 40ms) << i;
        }
    });
    EXPECT_EQ(run->TimerInterval(), 40);
}

TEST_F(TransferRun, ReArmingFromTheLinesThreadPutsTheTickOff) {
    machine->m_firstTickMs = 80;
    run->Start();
    Clock::time_point lastArmed;
    std::thread lineThread([&] {
        for (int i = 0; i < 60; ++i) {
            machine->Locked([&] {
                lastArmed = Clock::now();
                machine->Port().ArmTimer(80);
            });
            std::this_thread::sleep_for(5ms);
        }
    });
    lineThread.join();
    ASSERT_TRUE(WaitForTicks(1));
    machine->Locked([&] {
        EXPECT_GE(machine->ticks.front() - lastArmed, 80ms) << "no tick while blocks keep coming";
    });
}

TEST_F(TransferRun, ASoonerArmingIsNotHeldUpByAnEarlierLongerOne) {
    machine->m_firstTickMs = 60000;
    run->Start();
    ArmOnLineThread(30);
    EXPECT_TRUE(WaitForTicks(1));
}

TEST_F(TransferRun, ADisabledTimerStaysQuietUntilArmedAgain) {
    run->Start();
    machine->Locked([&] { machine->Port().DisableTimer(); });
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(Ticks(), 0u);
    EXPECT_TRUE(run->ThreadAlive()) << "the machine still runs";
    ArmOnLineThread(30);
    EXPECT_TRUE(WaitForTicks(1));
}

TEST_F(TransferRun, AStreamersCancelIsCarriedOutOnItsOwnThreadWhichEndsWithTheTransfer) {
    machine->streams = true;
    run->Start();
    run->Cancel();
    ASSERT_TRUE(WaitFor([&] { return !run->ThreadAlive(); }));
    EXPECT_NE(machine->cancelledOn, std::this_thread::get_id());
    EXPECT_NE(machine->cancelledOn, std::thread::id{});
    // The news is taken where the machine's lock is free: asking the
    // machine itself there does not deadlock.
    EXPECT_GE(owner.told.load(), 1);
    const TTransferRun::TNews news = run->TakeNews();
    ASSERT_TRUE(news.progress);
    EXPECT_TRUE(news.progress->ended);
    EXPECT_TRUE(news.lineBack);
    EXPECT_EQ(run->Progress().outcome, TTransferOutcome::CancelledHere);
    EXPECT_FALSE(run->Running());
}

TEST_F(TransferRun, TheObserverIsToldOnceUntilTheNewsIsTaken) {
    run->Start();
    machine->Locked([&] {
        for (int i = 0; i < 100; ++i) {
            machine->Port().ShowProgress(TTransferProgress{});
        }
    });
    EXPECT_EQ(owner.told.load(), 1);
    run->TakeNews();
    machine->Locked([&] { machine->Port().Alert(); });
    EXPECT_EQ(owner.told.load(), 2);
    EXPECT_EQ(run->TakeNews().alerts, 1);
}

// Bytes keep a transfer alive; silence ends it once, as timed out, but not
// while the user is asked about a file already there.
TEST_F(TransferRun, ALineSilentForTooLongEndsTheTransferOnceButNotWhileTheUserIsAsked) {
    Make(std::chrono::milliseconds(400));
    machine->m_firstTickMs = 60000;
    run->Start();
    const std::uint8_t byte = 'x';
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(50ms);
        run->ReceiveChunk(&byte, 1);
    }
    EXPECT_EQ(Silences(), 0) << "bytes kept coming";
    machine->Locked([&] { machine->Port().AskExisting("/dl/f"); });
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(Silences(), 0) << "the user is asked";
    run->Answer(TExistingFile::Skip);
    ASSERT_TRUE(WaitFor([&] { return Silences() == 1; }));
    EXPECT_EQ(run->Progress().outcome, TTransferOutcome::TimedOut);
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(Silences(), 1);
}

// After a cancel, what the other side still sends is the transfer's up to
// and with its answer (CANs, then backspaces); the next byte is the
// screen's. A side that never answers gets our cancel once more, and then
// the line goes back once it is quiet.
TEST_F(TransferRun, ACancelKeepsTheOtherSidesBytesUntilItsAnswerOrAQuietLine) {
    run->Start();
    run->Cancel();
    EXPECT_FALSE(run->TakeNews().lineBack);
    const std::string answer = std::string(5, '\x18') + "\b\b\b";
    EXPECT_EQ(Receive("in flight\x18\x18" + answer.substr(0, 4)), 15);
    EXPECT_FALSE(run->TakeNews().lineBack);
    EXPECT_EQ(Receive(answer.substr(4) + "menu"), 4);
    EXPECT_TRUE(run->TakeNews().lineBack);
    EXPECT_EQ(Receive("more"), 0);

    Make(TTransferRun::kSilenceLimit);
    run->Start();
    run->Cancel();
    EXPECT_EQ(Receive("in flight"), 9);
    // Quiet without an answer: our cancel once more, then the line goes back.
    bool back = false;
    ASSERT_TRUE(WaitFor([&] { return back = back || run->TakeNews().lineBack; }, 10s));
    EXPECT_EQ(line.sent.load(), 3);
    EXPECT_EQ(Receive("menu"), 0);
}

} // namespace
