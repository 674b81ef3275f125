#include "connection/live_connection.h"

#include "common/qt_text.h"

#include <algorithm>
#include <thread>

namespace telvora {

TLiveConnection::TLiveConnection(int speed, std::shared_ptr<TScreenSink> screen,
                                 std::chrono::milliseconds pollPeriod)
    : TConnectionThread(speed), m_screen(std::move(screen)), m_pollPeriod(pollPeriod),
      m_block(kBlockSize) {}

QString TLiveConnection::StatusText() const {
    std::lock_guard lock(m_mutex);
    return m_statusText;
}

void TLiveConnection::SetStatusText(const QString& text) {
    std::lock_guard lock(m_mutex);
    m_statusText = text;
}

void TLiveConnection::SetSpeed(int speed) {
    TConnectionThread::SetSpeed(speed);
    m_speedChanged = true;
}

void TLiveConnection::SetTransferMode(bool on, bool /*rawFilter*/,
                                      std::shared_ptr<TChunkSink> receiver) {
    {
        std::lock_guard lock(m_mutex);
        m_receiver = on ? std::move(receiver) : nullptr;
    }
    m_inTransfer = on;
    // A transfer that ended before the held bytes reached it leaves them
    // to the screen.
    if (!on && m_holding) {
        m_declined = true;
    }
    // Held bytes go on at once, not only with the next bytes to arrive.
    m_wake.Notify();
}

void TLiveConnection::SetStartWatch(std::shared_ptr<TTransferStartWatch> watch) {
    std::lock_guard lock(m_mutex);
    m_watch = std::move(watch);
}

void TLiveConnection::Hold() {
    ++m_holds;
    m_declined = false;
    m_holding = true;
}

void TLiveConnection::DeclineHeld() {
    m_declined = true;
    m_wake.Notify();
}

void TLiveConnection::Received(const std::uint8_t* data, int count) {
    m_fifo.Put(data, count);
    m_wake.Notify();
}

void TLiveConnection::StopRequestedHook() {
    m_wake.Notify();
}

void TLiveConnection::run() {
    QString message;
    Outcome outcome = Outcome::Normal;
    try {
        Open();
        while (!StopRequested()) {
            m_wake.WaitFor(m_pollPeriod);
            if (StopRequested()) {
                break;
            }
            PassHeld(TransferReceiver());
            if (MayDeliver() && m_fifo.Count() > 0) {
                DeliverBlock();
            } else if (m_fifo.Count() == 0) {
                DeliverLeftovers();
            }
            RoomMade();
            if (const std::optional<TLineEnd> end = EndOfLine()) {
                message = end->message;
                outcome = end->outcome;
                break;
            }
        }
    } catch (const std::exception& failure) {
        message = QString::fromStdString(failure.what());
        outcome = Outcome::Failed;
    } catch (...) {
        message = QStringLiteral("The connection failed.");
        outcome = Outcome::Failed;
    }
    try {
        Close();
    } catch (const std::exception& failure) {
        if (message.isEmpty()) {
            message = QString::fromStdString(failure.what());
            outcome = Outcome::Failed;
        }
    } catch (...) {
        // The line is as closed as it can be; the end steps still run.
    }
    ReportEnd(message, outcome);
}

void TLiveConnection::DeliverBlock() {
    // The whole backlog at once: the block is never larger than the FIFO.
    const int count = m_fifo.Count();
    m_fifo.Get(m_block.data(), count);
    RoomMade();
    Deliver(m_block.data(), count);
}

void TLiveConnection::Deliver(const std::uint8_t* block, int count) {
    BlockTaken(block, count);
    const int kept = std::clamp(TakenByConnection(block, count), 0, count);
    block += kept;
    count -= kept;
    if (count == 0) {
        return;
    }
    // One look for both: a transfer taking the line between two looks would
    // get this block before the held bytes that came ahead of it.
    const std::shared_ptr<TChunkSink> receiver = TransferReceiver();
    PassHeld(receiver);
    if (receiver != nullptr) {
        HandToTransfer(*receiver, block, count);
        return;
    }
    if (m_holding) {
        m_held.insert(m_held.end(), block, block + count);
        return;
    }
    DeliverWatched(block, count);
}

void TLiveConnection::DeliverWatched(const std::uint8_t* block, int count) {
    std::shared_ptr<TTransferStartWatch> watch;
    {
        std::lock_guard lock(m_mutex);
        watch = m_watch;
    }
    const std::optional<std::size_t> before =
        watch ? watch->Scan(block, static_cast<std::size_t>(count)) : std::nullopt;
    if (!before) {
        DeliverToScreen(block, count);
        return;
    }
    const int shown = static_cast<int>(std::min(*before, static_cast<std::size_t>(count)));
    DeliverToScreen(block, shown);
    // After what a hold that began meanwhile kept of this block.
    m_held.insert(m_held.end(), block + shown, block + count);
    m_declined = false;
    m_holding = true;
    watch->Started();
}

void TLiveConnection::PassHeld(const std::shared_ptr<TChunkSink>& receiver) {
    if (!m_holding) {
        return;
    }
    // A hold asked for while these are passed on (a transfer starting right
    // after a decline) stays.
    const unsigned holds = m_holds.load();
    if (receiver == nullptr && !m_declined) {
        return;
    }
    std::vector<std::uint8_t> held;
    held.swap(m_held);
    m_holding = m_holds.load() != holds;
    if (held.empty()) {
        return;
    }
    // Declined bytes are not watched again: the sender's repeated start
    // would only be declined again.
    if (receiver != nullptr) {
        HandToTransfer(*receiver, held.data(), static_cast<int>(held.size()));
    } else {
        DeliverToScreen(held.data(), static_cast<int>(held.size()));
    }
}

std::shared_ptr<TChunkSink> TLiveConnection::TransferReceiver() const {
    if (!m_inTransfer.load()) {
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    return m_receiver;
}

void TLiveConnection::HandToTransfer(TChunkSink& receiver, const std::uint8_t* block, int count) {
    const int taken = receiver.ReceiveChunk(block, count);
    if (taken < count) {
        DeliverToScreen(block + taken, count - taken, true);
    }
}

void TLiveConnection::DeliverToScreen(const std::uint8_t* block, int count, bool transferEnded) {
    // A pause in the data starts a new schedule by itself (the pacer sees
    // that the line was idle); a new speed starts one at once.
    for (int i = 0; i < count; ++i) {
        if (StopRequested()) {
            return; // the rest of the block is dropped
        }
        // A transfer that starts while a block is paced takes the rest of it:
        // the sender's first block must not wait behind the screen.
        if (const std::shared_ptr<TChunkSink> receiver =
                transferEnded ? nullptr : TransferReceiver()) {
            HandToTransfer(*receiver, block + i, count - i);
            return;
        }
        // A transfer about to take the line keeps the rest for itself.
        if (!transferEnded && m_holding) {
            m_held.insert(m_held.end(), block + i, block + count);
            return;
        }
        const int delay = Delay();
        if (delay == 0) {
            // Unthrottled: the rest in one block write, which shows the same
            // screen as byte after byte.
            m_screen->WriteBlock(block + i, static_cast<std::size_t>(count - i));
            Record(block + i, count - i);
            std::this_thread::yield();
            return;
        }
        if (m_speedChanged.exchange(false)) {
            m_pacer.Restart();
        }
        m_pacer.WaitForNext(delay);
        m_screen->WriteByte(block[i]);
        Record(block + i, 1);
    }
}

void TLiveConnection::Record(const std::uint8_t* bytes, int count) {
    if (!m_recording) {
        return;
    }
    try {
        m_recording->Append(bytes, static_cast<std::size_t>(count));
    } catch (const ECaptureError& failure) {
        ReportNotice(FromUtf8(failure.what()));
    }
}

} // namespace telvora
