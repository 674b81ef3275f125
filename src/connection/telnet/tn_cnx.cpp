#include "connection/telnet/tn_cnx.h"

#include "connection/telnet/telnet_encoder.h"
#include "connection/telnet/winsock_errors.h"

#include <QLoggingCategory>

#include <vector>

// The protocol trace; enable with QT_LOGGING_RULES="telvora.telnet.debug=true".
Q_LOGGING_CATEGORY(lcTelnet, "telvora.telnet", QtInfoMsg)

TTnCnx::TTnCnx() : m_socket(std::make_unique<TWSocket>()) {
    m_socket->SetOnSessionConnected([this](TWSocket&, int error) {
        if (m_onSessionConnected) {
            m_onSessionConnected(*this, error);
        }
    });
    m_socket->SetOnSessionClosed([this](TWSocket& socket, int error) {
        if (socket.State() != wsClosed) {
            socket.Close();
        }
        if (m_onSessionClosed) {
            m_onSessionClosed(*this, error);
        }
    });
    m_socket->SetOnDataAvailable([this](TWSocket&, int) { ReceiveStep(); });
}

TTnCnx::~TTnCnx() = default;

void TTnCnx::Connect() {
    if (!m_socket) {
        return;
    }
    if (m_socket->State() != wsClosed) {
        m_socket->Close();
    }
    m_socket->SetProto("tcp");
    m_socket->SetPort(m_port);
    m_socket->SetAddr(m_host);
    m_socket->Connect();
}

bool TTnCnx::IsConnected() const {
    return m_socket && m_socket->State() == wsConnected;
}

int TTnCnx::Send(const std::uint8_t* bytes, int count) {
    if (!m_socket) {
        return -1;
    }
    return m_socket->Send(bytes, count);
}

int TTnCnx::SendStr(const std::string& text) {
    return Send(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
}

int TTnCnx::SendDoubled(const std::uint8_t* bytes, int count) {
    if (count <= 0) {
        return 0;
    }
    std::vector<std::uint8_t> doubled;
    doubled.reserve(static_cast<std::size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        doubled.push_back(bytes[i]);
        if (bytes[i] == TTelnetParser::kIac) {
            doubled.push_back(TTelnetParser::kIac);
        }
    }
    return Send(doubled.data(), static_cast<int>(doubled.size()));
}

int TTnCnx::SendData(const std::uint8_t* bytes, int count) {
    if (m_rawTcp) {
        return Send(bytes, count);
    }
    const std::vector<std::uint8_t> encoded = EncodeTelnetData(bytes, count, m_parser.OurBinary());
    return Send(encoded.data(), static_cast<int>(encoded.size()));
}

void TTnCnx::ReceiveStep() {
    // One spare cell: a block handed on is followed by a 0 byte.
    std::uint8_t buffer[kReceiveSize + 1];
    const int received = m_socket->Receive(buffer, kReceiveSize);
    if (received == 0) {
        Display("\r\n**** Remote has closed ****\r\n");
        return;
    }
    if (received < 0) {
        if (m_socket->LastError() != kWsaEWouldBlock) {
            Display("\r\n**** ERROR: " + std::to_string(m_socket->LastError()) + " ****\r\n");
        }
        return;
    }
    if (m_rawTcp) {
        buffer[received] = 0;
        DataAvailable(buffer, received);
        return;
    }
    m_parser.Feed(buffer, received);
    m_parser.Flush();
}

void TTnCnx::Display(const std::string& text) {
    if (m_onDisplay) {
        m_onDisplay(*this, text);
    }
}

void TTnCnx::Notify(const NotifyEvent& event, TTnCnx& sender) {
    if (event) {
        event(sender);
    }
}

void TTnCnx::DataAvailable(const std::uint8_t* block, int length) {
    if (m_onDataAvailable) {
        m_onDataAvailable(*this, block, length);
    }
}

void TTnCnx::SendReply(const std::uint8_t* bytes, int length) {
    Send(bytes, length);
}
void TTnCnx::EndOfRecord() {
    Notify(m_onEndOfRecord, *this);
}
void TTnCnx::SendLocRequested() {
    Notify(m_onSendLoc, *this);
}
void TTnCnx::TermTypeRequested() {
    Notify(m_onTermType, *this);
}
void TTnCnx::LocalEchoChanged() {
    Notify(m_onLocalEcho, *this);
}
void TTnCnx::RawPeerSuspected() {
    Notify(m_onRawPeer, *this);
}

void TTnCnx::Trace(const std::string& number, const std::string& text) {
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    qCDebug(lcTelnet).noquote().nospace()
        << QString::fromStdString(number)
        << QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
}
