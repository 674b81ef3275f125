#include "connection/serial/extended_comm.h"

#include <algorithm>
#include <chrono>
#include <vector>

// --- TFifoDaemon ---

TFifoDaemon::TFifoDaemon(TExtendedComm& comm) : m_comm(comm) {
    m_thread = std::thread([this] { Execute(); });
}

TFifoDaemon::~TFifoDaemon() {
    Terminate();
}

void TFifoDaemon::Wake() {
    std::lock_guard lock(m_mutex);
    m_woken = true;
    m_wakeEvent.notify_one();
}

void TFifoDaemon::Terminate() {
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
        m_wakeEvent.notify_one();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void TFifoDaemon::Execute() {
    std::vector<std::uint8_t> buffer(kBufferSize);
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wakeEvent.wait_for(lock, std::chrono::milliseconds(kPollIntervalMs),
                                 [this] { return m_woken || m_terminate; });
            m_woken = false;
            if (m_terminate) {
                return;
            }
        }
        m_comm.Pump(buffer.data());
    }
}

// --- TExtendedComm ---

TExtendedComm::TExtendedComm(QObject* owner)
    : TComm(owner), m_fifo(std::make_unique<TBigFIFO>()),
      m_daemon(std::make_unique<TFifoDaemon>(*this)) {}

TExtendedComm::~TExtendedComm() {
    // No event may wake the pump, and the pump may not touch the port or the
    // FIFO, once they start going away.
    Close();
    m_daemon.reset();
}

void TExtendedComm::Pump(std::uint8_t* buffer) {
    // Checked before taking the port too, so an idle pump never makes the
    // handler's reads wait for it.
    if (!Enabled() || HasRxCharHandler() || m_failedGeneration == OpenGeneration()) {
        return;
    }
    std::lock_guard lock(Lock());
    if (!Enabled() || HasRxCharHandler()) {
        return;
    }
    // Only what fits is taken: the rest stays in the driver (and its flow
    // control holds the sender back) instead of overflowing the FIFO.
    const int room = TBigFIFO::kCapacity - m_fifo->Count();
    const int count = std::min({DriverInQueCountLocked(), room, TFifoDaemon::kBufferSize});
    if (count <= 0) {
        return;
    }
    try {
        const int got = ReadPortLocked(buffer, count);
        if (got > 0) {
            m_fifo->Put(buffer, got);
        }
    } catch (const ECommError& error) {
        // Tried once: a port that fails to read is reported to the owner and
        // to whoever reads it next, and not read again until it is reopened.
        m_failedGeneration = OpenGeneration();
        ReportFailure(error.what());
    }
}

int TExtendedComm::Read(std::uint8_t* buffer, int count) {
    TTransferLock lock(Lock(), std::defer_lock);
    if (!LockForTransfer(lock, ReadTimeout())) {
        ReportReadTimedOut();
        return -1;
    }
    const int fromFifo = std::clamp(m_fifo->Count(), 0, std::max(count, 0));
    if (fromFifo > 0) {
        m_fifo->Get(buffer, fromFifo);
    }
    if (fromFifo == count) {
        return fromFifo;
    }
    if (fromFifo > 0 && !Enabled()) {
        return fromFifo;
    }
    try {
        return fromFifo + ReadPortLocked(buffer + fromFifo, count - fromFifo);
    } catch (const ECommError&) {
        if (fromFifo > 0) {
            return fromFifo;
        }
        throw;
    }
}

int TExtendedComm::InQueCount() {
    const int waiting = DriverInQueCount();
    if (waiting < 0) {
        return -1;
    }
    return waiting + m_fifo->Count();
}

void TExtendedComm::PurgeIn() {
    TComm::PurgeIn();
    std::lock_guard lock(Lock());
    m_fifo->Clear();
}

void TExtendedComm::RxChar(int count) {
    if (HasRxCharHandler()) {
        TComm::RxChar(count);
    } else {
        m_daemon->Wake();
    }
}
