#include "connection/serial_connection.h"

#include "common/posix_io.h"
#include "common/qt_text.h"
#include "connection/serial/extended_comm.h"

#include <QElapsedTimer>

#include <algorithm>
#include <poll.h>
#include <thread>
#include <vector>

namespace telvora {

namespace {

THayesDialer::TTime SteadyNow() {
    return std::chrono::duration_cast<THayesDialer::TTime>(
        std::chrono::steady_clock::now().time_since_epoch());
}

} // namespace

TSerialConnection::TSerialConnection(std::string portName, const TSerialSettings& settings,
                                     int speed, std::shared_ptr<TScreenSink> screen)
    : TLiveConnection(speed, std::move(screen), kPollPeriod), m_portName(std::move(portName)),
      m_settings(settings), m_commPort(std::make_unique<TExtendedComm>()) {
    m_commPort->SetDeviceName(m_portName);
    m_commPort->SetLineSettings(m_settings.LineSettings());
    m_commPort->SetOnRxChar([this](TCustomComm&, int count) { RxChar(count); });
    m_commPort->SetOnFailure([this](TCustomComm&, const std::string& text) { CommFailure(text); });
    m_commPort->SetOnRlsd([this](TCustomComm&) { CarrierChanged(); });
}

TSerialConnection::~TSerialConnection() = default;

QString TSerialConnection::LineSettingsText() const {
    return FromUtf8(m_settings.Text());
}

void TSerialConnection::SetModem(const TModemSettings& modem) {
    m_modem = modem;
    m_commandMode = true;
}

void TSerialConnection::SendByte(std::uint8_t code) {
    if (m_commPort->Enabled()) {
        const std::uint8_t sent = m_commandMode.load() ? CommandModeKey(code) : code;
        // The port is held for a moment by its own events and by a
        // transfer's writes; a key that finds it so waits (up to kKeyWaitMs)
        // instead of being lost. A line whose output queue is full (flow
        // control holds it) drops the key at once, so typing never stalls
        // the window.
        m_commPort->Write(&sent, 1, kKeyWaitMs);
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
    return m_portReady.load() && m_commPort->Enabled() && (!m_modem || m_callUp.load());
}

void TSerialConnection::Open() {
    m_commPort->SetReadBufSize(kBufferSize);
    m_commPort->SetWriteBufSize(kBufferSize);
    m_commPort->SetReadTimeout(0);
    m_commPort->SetWriteTimeout(0);
    try {
        m_commPort->Open();
    } catch (const std::exception& failure) {
        // The driver's text does not say which port; the user may have several.
        const QString text = QStringLiteral("Cannot Open ") + FileNameFromSystem(m_portName) +
                             QStringLiteral(" - ") + FromUtf8(failure.what());
        SetStatusText(text);
        throw std::runtime_error(ToUtf8(text));
    }
    // A modem holds a call only while DTR is up; a port without modem lines
    // (a pseudo-terminal) has nothing to raise.
    m_commPort->SetDtr(true);
    m_portReady = true;
    if (!m_modem) {
        SetStatusText(QStringLiteral("Connected to ") + FileNameFromSystem(m_portName));
        ReportLineUp();
        return;
    }
    m_dialer = std::make_unique<THayesDialer>(*m_modem);
    m_dialer->Start(SteadyNow());
    SendModemOutput();
}

void TSerialConnection::Close() {
    if (m_commPort->Enabled() && NeedsHangUp()) {
        try {
            HangUp();
        } catch (const std::exception&) {
            // A line that has gone needs no hang-up.
        }
    }
    m_commPort->Close();
}

// --- the modem's side ---

int TSerialConnection::TakenByConnection(const std::uint8_t* block, int count) {
    if (!m_commandMode.load()) {
        WatchForNoCarrier(block, count);
        return 0;
    }
    // Up to the answer that ends command mode (a CONNECT); the rest is the call's.
    int taken = 0;
    while (taken < count && m_commandMode.load()) {
        if (const std::optional<TModemResponse> response = m_reader.Feed(block[taken++])) {
            Heard(*response);
        }
    }
    const std::vector<std::uint8_t> shown =
        m_commandText.Translate(block, static_cast<std::size_t>(taken));
    ShowOnScreen(shown.data(), static_cast<int>(shown.size()));
    SendModemOutput();
    return taken;
}

void TSerialConnection::Heard(const TModemResponse& response) {
    if (m_dialer && m_dialer->Calling()) {
        m_dialer->Heard(response, SteadyNow());
        if (m_dialer->State() == THayesDialer::TState::Online) {
            GoOnline(m_dialer->ConnectText());
        }
        return;
    }
    // The user's own dial on a plain line.
    if (response.Result == TModemResult::Connect) {
        GoOnline(response.Text);
    }
}

void TSerialConnection::GoOnline(const std::string& connectText) {
    m_commandMode = false;
    m_reader.Reset();
    const bool firstConnect = !m_callUp.exchange(true);
    const QString where = m_modem ? FromUtf8(m_modem->Number) + QStringLiteral(" via ") +
                                        FileNameFromSystem(m_portName)
                                  : FileNameFromSystem(m_portName);
    SetStatusText(QStringLiteral("Connected to ") + where + QStringLiteral(" (") +
                  FromUtf8(connectText) + QStringLiteral(")"));
    // A modem's line is up from its first CONNECT; a plain line's was at once.
    if (firstConnect && m_modem) {
        ReportLineUp();
    }
}

void TSerialConnection::WatchForNoCarrier(const std::uint8_t* block, int count) {
    if (!m_callUp.load()) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        const std::optional<TModemResponse> response = m_reader.Feed(block[i]);
        if (response && response->Result == TModemResult::NoCarrier) {
            m_callEnded = true;
        }
    }
}

void TSerialConnection::CarrierChanged() {
    if (m_callUp.load() && !m_commPort->CarrierDetected()) {
        m_callEnded = true;
        WakeThread();
    }
}

void TSerialConnection::SendModemOutput() {
    if (m_dialer) {
        SendText(m_dialer->TakeOutput());
        if (m_dialer->Calling()) {
            SetStatusText(FromUtf8(m_dialer->StatusText()));
        }
    }
}

void TSerialConnection::SendText(const std::string& text) {
    SendTransferBytes(reinterpret_cast<const std::uint8_t*>(text.data()),
                      static_cast<int>(text.size()));
}

std::optional<TLiveConnection::TLineEnd> TSerialConnection::CallEnd() {
    if (m_dialer && m_dialer->Calling()) {
        m_dialer->Tick(SteadyNow());
        SendModemOutput();
    }
    if (m_dialer && m_dialer->State() == THayesDialer::TState::Failed) {
        SetStatusText(FromUtf8(m_dialer->StatusText()));
        return TLineEnd{FromUtf8(m_dialer->FailureText()), Outcome::Failed};
    }
    if (m_callEnded.load()) {
        SetStatusText(QStringLiteral("NO CARRIER"));
        return TLineEnd{QStringLiteral("Connection closed by remote host."), Outcome::Normal};
    }
    return std::nullopt;
}

bool TSerialConnection::NeedsHangUp() const {
    const bool calling = m_dialer && m_dialer->Calling();
    return (calling || m_callUp.load()) && !m_callEnded.load();
}

void TSerialConnection::HangUp() {
    if (m_commandMode.load()) {
        // Any character ends a modem's dialing.
        SendText("\r");
    } else {
        if (m_commPort->SetDtr(false)) {
            std::this_thread::sleep_for(kDtrDropTime);
            m_commPort->SetDtr(true);
        }
        // The escape is heard only with a guard time of silence on each side.
        WaitUntilSent();
        std::this_thread::sleep_for(kGuardTime);
        SendText("+++");
        WaitUntilSent();
        std::this_thread::sleep_for(kGuardTime);
    }
    // The answer shows the command was taken: closing the port flushes its
    // queues, and a pseudo-terminal's queue does not count what the other
    // side has not read yet.
    const int waiting = FifoCount();
    SendText("ATH0\r");
    WaitUntilSent();
    for (auto waited = std::chrono::milliseconds(0);
         waited < kHangUpAnswerTime && FifoCount() <= waiting;
         waited += std::chrono::milliseconds(kRoomPollMs)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kRoomPollMs));
    }
}

void TSerialConnection::WaitUntilSent() {
    // Closing the port discards what the driver still holds.
    for (int round = 0; round < 100 && BytesToSend(m_commPort->Handle()) > 0; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kRoomPollMs));
    }
}

std::optional<TLiveConnection::TLineEnd> TSerialConnection::EndOfLine() {
    if (std::optional<TLineEnd> end = CallEnd()) {
        return end;
    }
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
