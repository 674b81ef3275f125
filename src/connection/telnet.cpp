#include "connection/telnet.h"

#include "common/qt_text.h"
#include "connection/telnet/tn_cnx.h"
#include "connection/telnet/winsock_errors.h"
#include "connection/telnet/wsocket.h"

namespace telvora {

namespace {

const QString kRemoteClosed = QStringLiteral("Connection closed by remote host.");
const QString kMayBeRaw =
    QStringLiteral("This host may not speak Telnet: try Raw TCP in the host directory");

} // namespace

TTelnet::TTelnet(std::string host, std::string port, int speed, std::shared_ptr<TScreenSink> screen,
                 std::shared_ptr<TCaptureFile> capture, THostLookup hostLookup,
                 TLineProtocol protocol)
    : TLiveConnection(speed, std::move(screen), kPollPeriod), m_host(std::move(host)),
      m_port(std::move(port)), m_capture(std::move(capture)), m_tnCnx(std::make_unique<TTnCnx>()) {
    m_tnCnx->SetRawTcp(protocol == TLineProtocol::Raw);
    m_tnCnx->SetTermType(kTermType);
    m_tnCnx->SetHost(m_host);
    m_tnCnx->SetPort(m_port);
    m_tnCnx->Socket().SetHostLookup(hostLookup);
    m_tnCnx->SetOnDataAvailable(
        [this](TTnCnx&, const std::uint8_t* block, int length) { DataAvailable(block, length); });
    m_tnCnx->SetOnSessionConnected([this](TTnCnx&, int error) { TelnetConnected(error); });
    m_tnCnx->SetOnSessionClosed([this](TTnCnx&, int error) { TelnetClosed(error); });
    m_tnCnx->SetOnRawPeer([this](TTnCnx&) { RawPeerSuspected(); });
    m_tnCnx->Socket().SetOnTrying([this](const std::string& address) {
        SetStatusText(QStringLiteral("Trying ") + FromUtf8(address) + QStringLiteral("..."));
    });
}

void TTelnet::SetConnectTimeout(std::chrono::milliseconds timeout) {
    m_tnCnx->Socket().SetConnectTimeout(timeout);
}

void TTelnet::SetHostAddressLookup(THostAddressLookup lookup) {
    m_tnCnx->Socket().SetHostLookup(lookup);
}

TConnectionThread::Kind TTelnet::ConnectionKind() const {
    return m_tnCnx->RawTcp() ? Kind::Raw : Kind::Telnet;
}

TTelnet::~TTelnet() = default;

void TTelnet::SendByte(std::uint8_t code) {
    if (!m_tnCnx->IsConnected()) {
        return;
    }
    try {
        m_tnCnx->SendData(&code, 1);
    } catch (const std::exception&) {
        // The line is broken (the peer's host went away): it ends, and the
        // window tells the user why the key went nowhere.
        m_tnCnx->Socket().Close();
        throw;
    }
}

void TTelnet::SendTransferBytes(const std::uint8_t* bytes, int count) {
    if (!m_tnCnx->IsConnected()) {
        return;
    }
    try {
        m_tnCnx->SendData(bytes, count);
    } catch (const std::exception&) {
        // A broken line: the socket's close ends the connection and the transfer.
    }
}

bool TTelnet::LineUp() const {
    return m_tnCnx->IsConnected();
}

void TTelnet::SetTransferMode(bool on, bool rawFilter, std::shared_ptr<TChunkSink> receiver) {
    TLiveConnection::SetTransferMode(on, rawFilter, std::move(receiver));
    m_tnCnx->SetRawMode(on);
    m_tnCnx->SetRawFilter(rawFilter);
}

void TTelnet::Open() {
    m_connecting = true;
    try {
        if (!StopRequested()) {
            m_tnCnx->Connect();
        }
        // A stop that came before the connect had begun could not cancel it.
        if (StopRequested()) {
            m_tnCnx->Socket().Close();
        }
    } catch (const std::exception& failure) {
        m_connecting = false;
        if (StopRequested()) {
            return; // the user gave up on it; nothing to tell
        }
        const QString text = QStringLiteral("Cannot Connect - ") + FromUtf8(failure.what());
        SetStatusText(text);
        throw std::runtime_error(ToUtf8(text));
    }
    m_connecting = false;
}

void TTelnet::StopRequestedHook() {
    TLiveConnection::StopRequestedHook();
    // A stop during the connect cancels it, also in the middle of a name
    // lookup: when the lookup returns, no connection is made.
    if (m_connecting.load()) {
        m_tnCnx->Socket().Close();
    }
}

bool TTelnet::MayDeliver() const {
    return m_tnCnx->IsConnected() || m_remoteClosed.load();
}

std::optional<TLiveConnection::TLineEnd> TTelnet::EndOfLine() {
    // The remote side has closed: the line ends once everything received
    // before the close has been shown.
    if (m_remoteClosed.load() && FifoCount() == 0) {
        std::lock_guard lock(m_mutex);
        if (!m_failure.isEmpty()) {
            return TLineEnd{m_failure, Outcome::Failed};
        }
        return TLineEnd{kRemoteClosed, m_refused.load() ? Outcome::Failed : Outcome::Normal};
    }
    return std::nullopt;
}

void TTelnet::RoomMade() {
    if (m_tnCnx->ReceivePaused() && FifoRoom() >= TTnCnx::kReceiveSize) {
        m_tnCnx->SetReceivePaused(false);
    }
}

void TTelnet::BlockTaken(const std::uint8_t* block, int count) {
    if (!m_capture) {
        return;
    }
    try {
        m_capture->Append(block, static_cast<std::size_t>(count));
    } catch (const ECaptureError& failure) {
        ReportNotice(FromUtf8(failure.what()));
    }
}

void TTelnet::DataAvailable(const std::uint8_t* block, int length) {
    Received(block, length);
    // One receive never yields more data bytes than it read, so with this
    // much room left the next one always fits.
    if (FifoRoom() < TTnCnx::kReceiveSize) {
        m_tnCnx->SetReceivePaused(true);
    }
}

void TTelnet::TelnetConnected(int error) {
    if (error != 0) {
        // Never connected (refused, unreachable): what the socket said, as
        // for the connect failures found at once; the close that follows
        // is no remote host's.
        const QString text =
            QStringLiteral("Cannot Connect - ") + FromUtf8(WinsockErrorText(error));
        {
            std::lock_guard lock(m_mutex);
            m_failure = text;
        }
        SetStatusText(text);
        m_refused = true;
        return;
    }
    SetStatusText(QStringLiteral("Connected to ") + FromUtf8(m_host));
    ReportLineUp();
}

void TTelnet::RawPeerSuspected() {
    SetStatusText(kMayBeRaw);
    Q_EMIT RawPeerSeen();
}

void TTelnet::TelnetClosed(int /*error*/) {
    if (StopRequested()) {
        return; // closed by our own stop
    }
    if (!m_refused.load()) {
        SetStatusText(kRemoteClosed);
    }
    // A close that our own handler caused (it threw) is a failure, not the BBS's doing.
    const std::string failure = m_tnCnx->Socket().HandlerFailure();
    if (!failure.empty()) {
        std::lock_guard lock(m_mutex);
        m_failure = QStringLiteral("The connection failed: ") + FromUtf8(failure);
    }
    m_remoteClosed = true;
    // Woken for the last delivery and the end.
    WakeThread();
}

} // namespace telvora
