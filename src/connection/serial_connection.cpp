#include "connection/serial_connection.h"

#include "common/qt_text.h"
#include "connection/serial/extended_comm.h"

#include <QElapsedTimer>

#include <algorithm>
#include <poll.h>
#include <vector>

namespace telvora {

TSerialConnection::TSerialConnection(std::string portName, int speed,
                                     std::shared_ptr<TScreenSink> screen)
    : TLiveConnection(speed, std::move(screen), kPollPeriod), m_portName(std::move(portName)),
      m_commPort(std::make_unique<TExtendedComm>()) {
    m_commPort->SetBaudRate(TBaudrate::br19200);
    m_commPort->SetDeviceName(m_portName);
    m_commPort->SetParity(TParity::paNone);
    m_commPort->SetDatabits(TDatabits::da8);
    m_commPort->SetStopbits(TStopbits::sb10);
    m_commPort->SetOnRxChar([this](TCustomComm&, int count) { RxChar(count); });
    m_commPort->SetOnFailure([this](TCustomComm&, const std::string& text) { CommFailure(text); });
}

TSerialConnection::~TSerialConnection() = default;

void TSerialConnection::SendByte(std::uint8_t code) {
    if (m_commPort->Enabled()) {
        m_commPort->Write(&code, 1);
    }
}

void TSerialConnection::SendTransferBytes(const std::uint8_t* bytes, int count) {
    try {
        // The port's write timeout is 0: a write that finds the driver's
        // output queue full sends nothing, and a streaming sender fills it
        // at once. The rest waits for room as the line drains it; only a
        // line where nothing goes out for kStuckMs is given up.
        QElapsedTimer sinceSent;
        sinceSent.start();
        while (count > 0 && m_commPort->Enabled()) {
            const int sent = m_commPort->Write(bytes, count);
            if (sent > 0) {
                bytes += sent;
                count -= sent;
                sinceSent.restart();
                continue;
            }
            if (sinceSent.elapsed() > kStuckMs) {
                return;
            }
            pollfd room{m_commPort->Handle(), POLLOUT, 0};
            poll(&room, 1, kRoomPollMs);
        }
    } catch (const std::exception&) {
        // The line has gone; its hang-up ends the connection and the transfer.
    }
}

bool TSerialConnection::LineUp() const {
    return m_commPort->Enabled();
}

void TSerialConnection::Open() {
    m_commPort->SetReadBufSize(kBufferSize);
    m_commPort->SetWriteBufSize(kBufferSize);
    m_commPort->SetReadTimeout(0);
    m_commPort->SetWriteTimeout(0);
    m_commPort->SetFlowControl(TFlowControl::fcNone);
    try {
        m_commPort->Open();
    } catch (const std::exception& failure) {
        // The driver's text does not say which port; the user may have several.
        const QString text = QStringLiteral("Cannot Open ") + FileNameFromSystem(m_portName) +
                             QStringLiteral(" - ") + FromUtf8(failure.what());
        SetStatusText(text);
        throw std::runtime_error(ToUtf8(text));
    }
    SetStatusText(QStringLiteral("Connected to ") + FileNameFromSystem(m_portName));
    ReportLineUp();
}

void TSerialConnection::Close() {
    m_commPort->Close();
}

std::optional<TLiveConnection::TLineEnd> TSerialConnection::EndOfLine() {
    // The port closes itself after a hang-up; what came before it is shown first.
    if (m_lineLost.load() && !m_commPort->Enabled() && FifoCount() == 0) {
        std::lock_guard lock(m_mutex);
        if (m_leftovers.empty()) {
            return TLineEnd{FromUtf8(m_lostText), Outcome::Normal};
        }
    }
    return std::nullopt;
}

void TSerialConnection::RoomMade() {
    if (FifoRoom() > 0 && m_heldBack.exchange(false)) {
        m_commPort->ReportWaitingAgain();
    }
}

void TSerialConnection::RxChar(int count) {
    const int room = std::min(FifoRoom(), kBlockSize);
    const int wanted = std::min(count, room);
    if (wanted < count) {
        m_heldBack = true;
    }
    if (wanted <= 0 || !m_commPort->Enabled()) {
        return;
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(wanted));
    const int got = m_commPort->Read(buffer.data(), wanted);
    if (got > 0) {
        Received(buffer.data(), got);
    }
}

void TSerialConnection::KeepWhatIsWaiting() {
    // The port is closed after this event and its queue purged: what the
    // FIFO had no room for is kept here and shown after the FIFO's bytes.
    std::vector<std::uint8_t> kept;
    std::uint8_t buffer[4096];
    try {
        while (kept.size() < kMaxLeftovers && m_commPort->Enabled()) {
            const int got = m_commPort->Read(buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            kept.insert(kept.end(), buffer, buffer + got);
        }
    } catch (const std::exception&) {
        // A line that has gone cannot always be read any more; keep what came.
    }
    std::lock_guard lock(m_mutex);
    m_leftovers.insert(m_leftovers.end(), kept.begin(), kept.end());
}

void TSerialConnection::DeliverLeftovers() {
    std::vector<std::uint8_t> leftovers;
    {
        std::lock_guard lock(m_mutex);
        leftovers.swap(m_leftovers);
    }
    if (!leftovers.empty()) {
        Deliver(leftovers.data(), static_cast<int>(leftovers.size()));
    }
}

void TSerialConnection::CommFailure(const std::string& text) {
    if (m_commPort->HungUp()) {
        if (m_heldBack.exchange(false)) {
            KeepWhatIsWaiting();
        }
        {
            std::lock_guard lock(m_mutex);
            m_lostText = text;
        }
        m_lineLost = true;
        WakeThread();
        return;
    }
    Q_EMIT Notice(this, FromUtf8(text));
}

} // namespace telvora
