#pragma once

#include "connection/chunk_sink.h"
#include "connection/transfer_line.h"
#include "transfer/cancel_drain.h"
#include "transfer/transfer_machine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace telvora {

// One transfer over the live line: drives a protocol's state machine and
// owns what every protocol needs around it. The line's bytes come in as a
// chunk sink on the line's thread; the machine's bytes go out through the
// line; the block timer, the user's cancel and a streaming sender's bursts
// are carried out by a thread of the run's own, so neither the line nor the
// user-interface thread waits for a slow write. The thread lives from the
// start until the machine has stopped and wants no more ticks.
//
// A transfer that ends by a cancel, ours or the other side's, keeps the
// line until what the other side still sends of it has passed: its answer
// to the cancel, or a short quiet time; only then are the line's bytes the
// screen's again.
//
// What happens is noted, and the observer is told that there is news, from
// whichever thread it happened on; the owner takes the news with TakeNews
// on its own thread, where the machine's lock is not held.
class TTransferRun : public TChunkSink, private TTransferPort {
public:
    // Called from any thread, possibly with the machine's lock held: it may
    // only arrange for TakeNews to be called later, and never call the run.
    class TObserver {
    public:
        virtual ~TObserver() = default;
        virtual void TransferNews() = 0;
    };
    using TMachineFactory = std::function<std::unique_ptr<TTransferMachine>(TTransferPort&)>;

    // What happened since the owner last asked.
    struct TNews {
        std::optional<TTransferProgress> progress; // the latest, when it changed
        int alerts = 0;
        // The machine has ended: the line's bytes are the screen's again.
        bool lineBack = false;
        std::optional<std::string> question; // a file already there, to ask about
    };

    // A transfer that hears nothing from the other side this long ends
    // "Timed out" (not while the user is asked about an existing file).
    static constexpr std::chrono::milliseconds kSilenceLimit{60000};
    // After a cancel, the line is given back once it has been quiet this
    // long (after the other side's last byte and our cancel's), or at the
    // latest after kDrainLimit, for a side that never stops. Until anything
    // at all has come since our cancel, the line may be held up on its way
    // (what was sent before the cancel has yet to come): it waits longer.
    // A side quiet without an answer gets our cancel once more first.
    static constexpr std::chrono::milliseconds kDrainQuiet{1000};
    static constexpr std::chrono::milliseconds kDrainUnheard{2000};
    static constexpr std::chrono::milliseconds kDrainLimit{15000};

    TTransferRun(TTransferLine& line, TObserver& observer, const TMachineFactory& make,
                 std::chrono::milliseconds silenceLimit = kSilenceLimit);
    ~TTransferRun() override;
    TTransferRun(const TTransferRun&) = delete;
    TTransferRun& operator=(const TTransferRun&) = delete;

    // Starts the machine (raises ETransferFileError when it cannot begin,
    // with nothing started), then the run's thread.
    void Start();
    // The line's thread: the line's bytes while the transfer has it.
    int ReceiveChunk(const std::uint8_t* data, int count) override;
    // Any thread: the user's cancel; a streaming sender's is carried out by
    // the run's thread.
    void Cancel();
    // The line has gone: the machine is told, and nothing more goes to it.
    void LineLost();
    void Answer(TExistingFile choice);

    TNews TakeNews();
    bool Running() const;
    TTransferProgress Progress() const;
    // The interval the machine's timer was last armed with (0 when disabled).
    int TimerInterval() const;
    // Whether the run's thread is still there.
    bool ThreadAlive() const { return m_threadAlive.load(); }

private:
    using Clock = std::chrono::steady_clock;
    enum TWork : unsigned { kPump = 1, kCancel = 2, kStop = 4 };

    // TTransferPort, with the machine's lock held, from any thread.
    void Send(const std::uint8_t* bytes, std::size_t count) override;
    void ShowProgress(const TTransferProgress& progress) override;
    void Alert() override;
    void EndTransferMode() override;
    void ArmTimer(int intervalMs) override;
    void DisableTimer() override;
    void AskExisting(const std::string& path) override;
    void Cancelled(const std::vector<std::uint8_t>& cancel) override;

    void BeginDrain(bool theirs, std::vector<std::uint8_t> cancel = {});
    // Our cancel once more, when the other side has stopped without an answer.
    void RepeatCancel();
    // The ended transfer's part of the bytes while it drains.
    std::size_t Drain(const std::uint8_t* data, std::size_t count);
    // The drain is over: the line goes back once the machine has ended.
    void EndDrain();
    void GiveLineBack();
    void Ask(unsigned work);
    // Notes news under the news lock and tells the observer once until taken.
    template <typename Note> void AddNews(Note&& note);
    void Loop();
    // Waits for work, the timer or the silence limit; false once stopped.
    struct TStep {
        unsigned work = 0;
        bool tickDue = false;
        bool silent = false;
        bool drained = false; // quiet: the drain ends, or our cancel goes once more
    };
    bool NextStep(TStep& step);
    // When the silence limit is reached, unless the user is being asked or
    // it has been told; with m_mutex held.
    std::optional<Clock::time_point> SilenceDeadline() const;
    // When a drain under way ends by quiet or its limit; with m_mutex held.
    std::optional<Clock::time_point> DrainDeadline() const;
    void Heard();
    void PumpWhileDue();
    void StopThread();

    std::atomic<TTransferLine*> m_line;
    TObserver& m_observer;
    std::unique_ptr<TTransferMachine> m_machine;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    unsigned m_work = 0;                           // TWork bits; guarded by m_mutex
    int m_interval = 0;                            // 0: no ticks; guarded by m_mutex
    Clock::time_point m_deadline;                  // guarded by m_mutex
    std::optional<Clock::time_point> m_waitsUntil; // guarded by m_mutex
    const std::chrono::milliseconds m_silenceLimit;
    Clock::time_point m_lastHeard = Clock::now(); // guarded by m_mutex
    bool m_asking = false;                        // guarded by m_mutex
    bool m_silenceTold = false;                   // guarded by m_mutex
    TCancelDrain m_drain;                         // guarded by m_mutex
    bool m_drainBegun = false;                    // guarded by m_mutex
    // Our cancel, while it may still be sent once more. Guarded by m_mutex.
    std::vector<std::uint8_t> m_cancel;
    Clock::time_point m_drainBegan;     // guarded by m_mutex
    Clock::time_point m_lastCancelSent; // guarded by m_mutex
    // The machine has ended while its drain ran. Guarded by m_mutex.
    bool m_lineBackDue = false;
    std::atomic<bool> m_draining{false};

    std::mutex m_newsMutex;
    TNews m_news;        // guarded by m_newsMutex
    bool m_told = false; // guarded by m_newsMutex

    std::atomic<bool> m_lineLost{false};
    std::atomic<bool> m_threadAlive{false};
    // An ended machine's thread ends by itself once its last sends are out
    // (a block receiver's CANs follow its cancel 250 ms later); a run going
    // away waits for that this long at most.
    static constexpr std::chrono::milliseconds kLastSendsWait{500};
    std::condition_variable m_threadEnded;
    // Started last, after everything it uses.
    std::thread m_thread;
};

} // namespace telvora
