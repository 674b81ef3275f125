// TCustomComm's events: the handlers, the hand-over of each event mask from
// the event thread to the owner's thread, and the fan-out to the handlers.
#include "connection/serial/custom_comm.h"

#include "common/hand_over.h"
#include "connection/serial/comm_event_thread.h"

#include <cerrno>
#include <exception>

// --- TCustomComm: events ---

void TCustomComm::SetOnBreak(TNotifyEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onBreak = std::move(handler);
}
void TCustomComm::SetOnCts(TNotifyEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onCts = std::move(handler);
}
void TCustomComm::SetOnDsr(TNotifyEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onDsr = std::move(handler);
}
void TCustomComm::SetOnRing(TNotifyEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onRing = std::move(handler);
}
void TCustomComm::SetOnRlsd(TNotifyEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onRlsd = std::move(handler);
}
void TCustomComm::SetOnError(TErrorEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onError = std::move(handler);
}
void TCustomComm::SetOnRxChar(TRxCharEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_hasRxCharHandler.store(static_cast<bool>(handler));
    m_onRxChar = std::move(handler);
}
void TCustomComm::SetOnRxFlag(TNotifyEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onRxFlag = std::move(handler);
}
void TCustomComm::SetOnTxEmpty(TNotifyEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onTxEmpty = std::move(handler);
}

void TCustomComm::SetOnFailure(TFailureEvent handler) {
    std::lock_guard lock(m_eventsMutex);
    m_onFailure = std::move(handler);
}

void TCustomComm::HandOver(std::uint32_t mask) {
    telvora::THandOver* events = nullptr;
    {
        std::lock_guard lock(m_notifyMutex);
        events = m_events.get();
    }
    // The hand-over lives until the next Open, which cannot come before this
    // thread has been joined by Close.
    if (events != nullptr) {
        events->RunAndWait([this, mask] { DeliverEvents(mask); });
    }
}

void TCustomComm::DeliverEvents(std::uint32_t mask) {
    const std::uint64_t generation = OpenGeneration();
    try {
        HandleEvents(mask);
    } catch (const std::exception& error) {
        FireFailure(std::string("An event handler failed: ") + error.what());
    } catch (...) {
        FireFailure("An event handler failed.");
    }
    if ((mask & TCommEventThread::kHangUp) != 0) {
        HangUp(generation);
    }
}

void TCustomComm::HangUp(std::uint64_t generation) {
    if (!Enabled() || generation != OpenGeneration()) {
        return;
    }
    m_hungUpGeneration = generation;
    FireFailure(CommErrorMessage("The line was hung up", EIO));
    // Closed after this event: Close waits for the event thread, which is
    // waiting for this very event to end.
    telvora::PostToThreadOf(this, [this, generation] {
        if (generation == OpenGeneration()) {
            Close();
        }
    });
}

void TCustomComm::ReportFailure(const std::string& text) {
    std::lock_guard lock(m_notifyMutex);
    if (m_events) {
        const std::uint64_t generation = OpenGeneration();
        m_events->Post([this, text, generation] {
            if (generation == OpenGeneration() && Enabled()) {
                FireFailure(text);
            }
        });
    }
}

void TCustomComm::FireFailure(const std::string& text) {
    TFailureEvent handler;
    {
        std::lock_guard lock(m_eventsMutex);
        handler = m_onFailure;
    }
    if (!handler) {
        return;
    }
    try {
        handler(*this, text);
    } catch (...) {
        // Nothing is left to tell a failing failure handler's failure to.
    }
}

template <typename Handler, typename... Args>
void TCustomComm::Fire(const Handler& slot, std::uint32_t mask, TCommEventType bit, Args... args) {
    if ((mask & static_cast<std::uint32_t>(bit)) == 0 || !Enabled()) {
        return;
    }
    Handler handler;
    {
        std::lock_guard lock(m_eventsMutex);
        handler = slot;
    }
    if (handler) {
        handler(*this, args...);
    }
}

void TCustomComm::HandleEvents(std::uint32_t mask) {
    std::uint32_t errors = 0;
    {
        std::lock_guard handle(m_handleMutex);
        if (m_fd.load() < 0) {
            return;
        }
        const TLineSnapshot now = ReadLineSnapshot(m_fd.load());
        errors = LineErrors(m_lineErrorBase, now);
        m_lineErrorBase = now;
    }
    const int waiting =
        (mask & static_cast<std::uint32_t>(TCommEventType::evRxChar)) != 0 ? InQueCount() : 0;
    Fire(m_onBreak, mask, TCommEventType::evBreak);
    Fire(m_onCts, mask, TCommEventType::evCts);
    Fire(m_onDsr, mask, TCommEventType::evDsr);
    Fire(m_onError, mask, TCommEventType::evError, errors);
    Fire(m_onRing, mask, TCommEventType::evRing);
    Fire(m_onRlsd, mask, TCommEventType::evRlsd);
    if ((mask & static_cast<std::uint32_t>(TCommEventType::evRxChar)) != 0 && waiting > 0 &&
        Enabled()) {
        RxChar(waiting);
    }
    Fire(m_onRxFlag, mask, TCommEventType::evRxFlag);
    Fire(m_onTxEmpty, mask, TCommEventType::evTxEmpty);
}

void TCustomComm::RxChar(int count) {
    TRxCharEvent handler;
    {
        std::lock_guard lock(m_eventsMutex);
        handler = m_onRxChar;
    }
    if (handler) {
        handler(*this, count);
    }
}
