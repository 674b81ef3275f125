#include "transfer/transfer_run.h"

#include <algorithm>
#include <utility>

namespace telvora {

TTransferRun::TTransferRun(TTransferLine& line, TObserver& observer, const TMachineFactory& make,
                           std::chrono::milliseconds silenceLimit)
    : m_line(&line), m_observer(observer), m_machine(make(*this)), m_silenceLimit(silenceLimit) {}

TTransferRun::~TTransferRun() {
    StopThread();
    // A machine still running is told its line has gone: it stops sending
    // and closes its files before they go.
    LineLost();
}

void TTransferRun::Start() {
    Heard();
    m_machine->Start();
    m_threadAlive = true;
    m_thread = std::thread([this] { Loop(); });
    if (m_machine->Streams()) {
        Ask(kPump);
    }
}

int TTransferRun::ReceiveChunk(const std::uint8_t* data, int count) {
    if (count > 0) {
        Heard();
    }
    const auto size = static_cast<std::size_t>(count);
    // What follows a cancel is the drain's, never the ended machine's.
    std::size_t taken = m_draining ? 0 : m_machine->Receive(data, size);
    if (taken < size && m_draining) {
        taken += Drain(data + taken, size - taken);
    }
    // A reply may have opened the stream window for more data.
    if (m_machine->Streams()) {
        Ask(kPump);
    }
    return static_cast<int>(taken);
}

void TTransferRun::Cancel() {
    // A streaming sender may be in the middle of a burst that a slow line
    // takes seconds to drain: its own thread cancels between two bursts.
    if (m_machine->Streams()) {
        Ask(kCancel);
    } else {
        m_machine->Cancel();
    }
}

void TTransferRun::LineLost() {
    if (m_lineLost.exchange(true)) {
        return;
    }
    // The machine sends under its lock and has stopped sending once this
    // returns: nothing can be on its way to the line any more.
    m_machine->LineLost();
    m_line = nullptr;
    // Nothing more comes to drain.
    EndDrain();
}

void TTransferRun::Answer(TExistingFile choice) {
    {
        // The sender waited for the user as long as we did.
        std::lock_guard lock(m_mutex);
        m_asking = false;
        m_lastHeard = Clock::now();
    }
    // The silence is timed again from now.
    m_wake.notify_one();
    m_machine->Answer(choice);
}

void TTransferRun::Heard() {
    std::lock_guard lock(m_mutex);
    m_lastHeard = Clock::now();
}

std::optional<TTransferRun::Clock::time_point> TTransferRun::SilenceDeadline() const {
    if (m_asking || m_silenceTold) {
        return std::nullopt;
    }
    return m_lastHeard + m_silenceLimit;
}

bool TTransferRun::Running() const {
    return m_machine->Running();
}

TTransferProgress TTransferRun::Progress() const {
    return m_machine->Progress();
}

int TTransferRun::TimerInterval() const {
    std::lock_guard lock(m_mutex);
    return m_interval;
}

TTransferRun::TNews TTransferRun::TakeNews() {
    std::lock_guard lock(m_newsMutex);
    m_told = false;
    return std::exchange(m_news, TNews{});
}

// ---------------------------------------------------------------- the port

void TTransferRun::Send(const std::uint8_t* bytes, std::size_t count) {
    if (TTransferLine* line = m_line.load()) {
        line->SendTransferBytes(bytes, static_cast<int>(count));
    }
    if (m_draining) {
        // A cancel sent after the ending (a block receiver's CANs): the
        // other side answers only from now on.
        std::lock_guard lock(m_mutex);
        m_lastCancelSent = Clock::now();
    }
}

template <typename Note> void TTransferRun::AddNews(Note&& note) {
    bool tell = false;
    {
        std::lock_guard lock(m_newsMutex);
        note(m_news);
        tell = !std::exchange(m_told, true);
    }
    if (tell) {
        m_observer.TransferNews();
    }
}

void TTransferRun::ShowProgress(const TTransferProgress& progress) {
    AddNews([&](TNews& news) {
        // An ending is kept over anything that follows it.
        if (!news.progress || !news.progress->ended || progress.ended) {
            news.progress = progress;
        }
    });
    if (progress.ended && progress.outcome == TTransferOutcome::CancelledByPeer) {
        BeginDrain(true);
    }
}

void TTransferRun::Alert() {
    AddNews([](TNews& news) { ++news.alerts; });
}

void TTransferRun::EndTransferMode() {
    {
        std::lock_guard lock(m_mutex);
        if (m_drain.Active()) {
            m_lineBackDue = true;
            return;
        }
    }
    GiveLineBack();
}

void TTransferRun::GiveLineBack() {
    AddNews([](TNews& news) { news.lineBack = true; });
}

void TTransferRun::Cancelled(const std::vector<std::uint8_t>& cancel) {
    BeginDrain(false, cancel);
}

// ---------------------------------------------------------------- the drain

void TTransferRun::BeginDrain(bool theirs, std::vector<std::uint8_t> cancel) {
    if (m_lineLost) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        // One ending, one drain.
        if (std::exchange(m_drainBegun, true)) {
            return;
        }
        m_drain.Begin(theirs);
        m_cancel = std::move(cancel);
        m_drainBegan = Clock::now();
        m_lastCancelSent = m_drainBegan;
        m_draining = true;
    }
    m_wake.notify_one();
}

std::size_t TTransferRun::Drain(const std::uint8_t* data, std::size_t count) {
    std::size_t taken = 0;
    bool giveBack = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_drain.Active()) {
            return 0;
        }
        taken = m_drain.Take(data, count);
        if (!m_drain.Active()) {
            m_draining = false;
            giveBack = std::exchange(m_lineBackDue, false);
        }
    }
    if (giveBack) {
        GiveLineBack();
    }
    return taken;
}

void TTransferRun::RepeatCancel() {
    std::vector<std::uint8_t> cancel;
    {
        std::lock_guard lock(m_mutex);
        // A sender may have read our cancel as noise while it waited for
        // something else (lrzsz's sz does, after a second ZRINIT): once more,
        // unless it has begun to answer.
        if (!m_drain.Answered() && Clock::now() < m_drainBegan + kDrainLimit) {
            cancel = std::exchange(m_cancel, {});
        }
    }
    if (cancel.empty()) {
        EndDrain();
        return;
    }
    Send(cancel.data(), cancel.size());
}

void TTransferRun::EndDrain() {
    bool giveBack = false;
    {
        std::lock_guard lock(m_mutex);
        m_drain.Stop();
        m_draining = false;
        giveBack = std::exchange(m_lineBackDue, false);
    }
    if (giveBack) {
        GiveLineBack();
    }
}

std::optional<TTransferRun::Clock::time_point> TTransferRun::DrainDeadline() const {
    if (!m_drain.Active()) {
        return std::nullopt;
    }
    const bool unheard =
        !m_cancel.empty() && !m_drain.Answered() && m_lastHeard <= m_lastCancelSent;
    const Clock::time_point quiet = unheard ? m_lastCancelSent + kDrainUnheard
                                            : std::max(m_lastHeard, m_lastCancelSent) + kDrainQuiet;
    return std::min(quiet, m_drainBegan + kDrainLimit);
}

void TTransferRun::AskExisting(const std::string& path) {
    {
        std::lock_guard lock(m_mutex);
        m_asking = true;
    }
    AddNews([&](TNews& news) { news.question = path; });
}

void TTransferRun::ArmTimer(int intervalMs) {
    {
        std::lock_guard lock(m_mutex);
        m_interval = std::max(intervalMs, 1);
        m_deadline = Clock::now() + std::chrono::milliseconds(m_interval);
        // The line re-arms with every block, thousands of times a second: a
        // thread that wakes no later than the new deadline looks again then.
        if (m_waitsUntil && *m_waitsUntil <= m_deadline) {
            return;
        }
    }
    m_wake.notify_one();
}

void TTransferRun::DisableTimer() {
    std::lock_guard lock(m_mutex);
    m_interval = 0; // the thread, when it wakes, finds nothing to do
}

// ---------------------------------------------------------------- the thread

void TTransferRun::Ask(unsigned work) {
    {
        std::lock_guard lock(m_mutex);
        m_work |= work;
    }
    m_wake.notify_one();
}

bool TTransferRun::NextStep(TStep& step) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if ((m_work & kStop) != 0) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        const std::optional<Clock::time_point> silence = SilenceDeadline();
        const std::optional<Clock::time_point> drained = DrainDeadline();
        step.tickDue = m_interval != 0 && now >= m_deadline;
        step.silent = silence && now >= *silence;
        step.drained = drained && now >= *drained;
        if (m_work != 0 || step.tickDue || step.silent || step.drained) {
            step.work = std::exchange(m_work, 0u);
            if (step.tickDue) {
                // Periodic: the next tick one interval on, unless re-armed meanwhile.
                m_deadline = now + std::chrono::milliseconds(m_interval);
            }
            m_silenceTold = m_silenceTold || step.silent;
            m_waitsUntil.reset();
            return true;
        }
        if (m_interval == 0 && !drained) {
            // Nothing more to time: a machine that has stopped needs this
            // thread no longer.
            lock.unlock();
            const bool running = m_machine->Running();
            lock.lock();
            if (!running && m_interval == 0 && m_work == 0 && !m_drain.Active()) {
                return false;
            }
            if (m_work != 0 || m_interval != 0 || m_drain.Active()) {
                continue;
            }
        }
        // Looks again at least every second while nothing is timed: the
        // machine may be waiting for the user.
        Clock::time_point wake = m_interval != 0 ? m_deadline : now + std::chrono::seconds(1);
        if (silence) {
            wake = std::min(wake, *silence);
        }
        if (drained) {
            wake = std::min(wake, *drained);
        }
        m_waitsUntil = wake;
        m_wake.wait_until(lock, wake);
    }
}

void TTransferRun::Loop() {
    TStep step;
    while (NextStep(step)) {
        if ((step.work & kCancel) != 0) {
            m_machine->Cancel();
        }
        if (step.tickDue) {
            m_machine->Tick();
        }
        if (step.silent) {
            m_machine->LineSilent();
        }
        if (step.drained) {
            RepeatCancel();
        }
        if (m_machine->Streams()) {
            PumpWhileDue();
        }
    }
    std::lock_guard lock(m_mutex);
    m_threadAlive = false;
    m_threadEnded.notify_all();
}

void TTransferRun::PumpWhileDue() {
    // The machine's lock is free between two bursts, so a reply gets its
    // turn; a cancel or a stop asked for meanwhile ends the bursts.
    while (m_machine->Pump()) {
        std::lock_guard lock(m_mutex);
        if ((m_work & (kStop | kCancel)) != 0) {
            return;
        }
    }
}

void TTransferRun::StopThread() {
    if (!m_machine->Running()) {
        std::unique_lock lock(m_mutex);
        m_threadEnded.wait_for(lock, kLastSendsWait, [this] { return !m_threadAlive.load(); });
    }
    Ask(kStop);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

} // namespace telvora
