#include "transfer/upload.h"

namespace telvora {

TUpload::TUpload(QWidget* parent)
    : TTransferWindow(parent, {QStringLiteral("Upload"), QStringLiteral("Upload Files"),
                               QStringLiteral("Bytes TX     :"), QStringLiteral("Blocks TX    :"),
                               QStringLiteral("TX Errors    :")}),
      m_sender(*this, m_files) {
    SetSink([this](const std::uint8_t* data, std::size_t count) {
        m_sender.ReceiveChunk(data, count);
        return count;
    });
}

TUpload::~TUpload() {
    TransportLost();
}

void TUpload::Start(TLiveConnection* line, TSendProtocol protocol,
                    const std::vector<std::string>& paths, std::function<void()> endTransferMode) {
    Begin(line, std::move(endTransferMode));
    m_sender.Start(protocol, paths);
    Started();
}

} // namespace telvora
