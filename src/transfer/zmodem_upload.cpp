#include "transfer/zmodem_upload.h"

#include <utility>

namespace telvora {

TZmodemUpload::TZmodemUpload(QWidget* parent)
    : TTransferWindow(parent, {QStringLiteral("ZmodemUpload"), QStringLiteral("ZMODEM Upload"),
                               QStringLiteral("Bytes TX     :"), QStringLiteral("Rate         :"),
                               QStringLiteral("TX Errors    :"), TRow::Rate}),
      m_sender(*this, m_files), m_pumper([this] { PumpWhileDue(); }) {
    SetSink([this](const std::uint8_t* data, std::size_t count) {
        const std::size_t taken = m_sender.ReceiveChunk(data, count);
        // A reply may have opened the window for more data.
        PumpSoon();
        return taken;
    });
}

TZmodemUpload::~TZmodemUpload() {
    StopPumping();
    TransportLost();
}

void TZmodemUpload::Start(TLiveConnection* line, const std::vector<std::string>& paths,
                          std::function<void()> endTransferMode) {
    Begin(line, std::move(endTransferMode));
    m_sender.Start(paths);
    Started();
    PumpSoon();
}

void TZmodemUpload::Tick() {
    Ask(kTick);
}

void TZmodemUpload::UserCancel() {
    Ask(kCancel);
}

void TZmodemUpload::PumpSoon() {
    Ask(kPump);
}

void TZmodemUpload::Ask(unsigned work) {
    {
        std::lock_guard lock(m_pumpMutex);
        m_work |= work;
    }
    m_pumpWake.notify_one();
}

void TZmodemUpload::PumpWhileDue() {
    for (;;) {
        unsigned work = 0;
        {
            std::unique_lock lock(m_pumpMutex);
            m_pumpWake.wait(lock, [this] { return m_work != 0; });
            work = std::exchange(m_work, 0u);
        }
        if ((work & kStop) != 0) {
            return;
        }
        if ((work & kCancel) != 0) {
            m_sender.UserCancel();
        }
        if ((work & kTick) != 0) {
            m_sender.TimeoutTimer();
        }
        // The sender's lock is free between two bursts, so a reply gets its
        // turn; a cancel or a stop asked for meanwhile ends the bursts; the
        // stream window stops them anyway once the receiver is that far
        // behind.
        while (m_sender.Pump()) {
            std::lock_guard lock(m_pumpMutex);
            if ((m_work & (kStop | kCancel)) != 0) {
                break;
            }
        }
    }
}

void TZmodemUpload::StopPumping() {
    Ask(kStop);
    if (m_pumper.joinable()) {
        m_pumper.join();
    }
}

} // namespace telvora
