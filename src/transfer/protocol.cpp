#include "transfer/protocol.h"

namespace telvora {

TProtocol::TProtocol(QWidget* parent)
    : TTransferWindow(parent, {QStringLiteral("Protocol"), QStringLiteral("Download Files"),
                               QStringLiteral("Bytes RX     :"), QStringLiteral("Blocks RX    :"),
                               QStringLiteral("RX Errors    :")}),
      m_receiver(*this, m_files) {
    SetSink([this](const std::uint8_t* data, std::size_t count) {
        m_receiver.ReceiveChunk(data, count);
        return count;
    });
}

TProtocol::~TProtocol() {
    TransportLost();
}

void TProtocol::StartSingle(TLiveConnection* line, const std::string& path,
                            std::function<void()> endTransferMode) {
    Begin(line, std::move(endTransferMode));
    m_receiver.StartSingle(path);
    Started();
}

void TProtocol::StartBatch(TLiveConnection* line, const std::string& folder,
                           std::function<void()> endTransferMode) {
    Begin(line, std::move(endTransferMode));
    m_receiver.StartBatch(folder);
    Started();
}

} // namespace telvora
