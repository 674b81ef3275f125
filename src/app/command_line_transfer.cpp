#include "app/command_line_transfer.h"

#include "app/session.h"

#include <cstdio>
#include <string>

namespace telvora {

std::optional<TTransferRequest>
TCommandLineTransfer::RequestFrom(const CommandLineOptions& options) {
    TTransferRequest request;
    if (options.send) {
        request.kind = options.send->protocol == TSendProtocol::Zmodem ? TTransferKind::SendZmodem
                                                                       : TTransferKind::SendBlocks;
        request.protocol = options.send->protocol;
        request.files = options.send->files;
        return request;
    }
    if (!options.receive) {
        return std::nullopt;
    }
    const ReceiveRequest& receive = *options.receive;
    request.where = receive.where;
    if (receive.zmodem) {
        request.kind = TTransferKind::ReceiveZmodem;
    } else if (receive.streaming) {
        request.kind = TTransferKind::ReceiveStreamedBatch;
    } else {
        request.kind = receive.batch ? TTransferKind::ReceiveBatch : TTransferKind::ReceiveFile;
    }
    return request;
}

TCommandLineTransfer::TCommandLineTransfer(TSession& session, const CommandLineOptions& options)
    : m_session(session), m_headless(options.headless), m_exitWhenDone(options.exitWhenDone),
      m_request(RequestFrom(options)) {
    m_sinceLine.start();
    if (m_headless) {
        connect(&session, &TSession::TransferProgress, this, &TCommandLineTransfer::Print);
    }
    connect(&session, &TSession::TransferEnded, this, &TCommandLineTransfer::Ended);
    if (!Asked()) {
        return;
    }
    if (!m_request->IsDownload()) {
        connect(&session, &TSession::Started, this, [this](TConnectionThread::Kind kind) {
            if (kind != TConnectionThread::Kind::Movie) {
                StartLater();
            }
        });
    } else {
        connect(&session, &TSession::LineCameUp, this, &TCommandLineTransfer::StartLater);
    }
}

void TCommandLineTransfer::StartLater() {
    if (m_started) {
        return;
    }
    m_started = true;
    // Outside the step that reported the line.
    QMetaObject::invokeMethod(
        this,
        [this] {
            TTransferRequest request = *m_request;
            request.existing = m_session.ExistingFiles();
            if (!m_session.StartTransfer(request) && m_exitWhenDone) {
                Q_EMIT Done();
            }
        },
        Qt::QueuedConnection);
}

void TCommandLineTransfer::Ended(TTransferOutcome outcome) {
    const bool completed = outcome == TTransferOutcome::Completed;
    m_failed = m_failed || !completed;
    if (m_ended || (!Asked() && completed)) {
        return;
    }
    m_ended = true;
    if (m_exitWhenDone) {
        Q_EMIT Done();
    }
}

void TCommandLineTransfer::Print(const TTransferProgress& progress) {
    if (!progress.ended && m_sinceLine.elapsed() < kProgressIntervalMs) {
        return;
    }
    m_sinceLine.restart();
    std::string total;
    std::string share;
    if (const std::optional<int> percent = PercentDone(progress)) {
        total = " of " + std::to_string(progress.totalBytes);
        share = " (" + std::to_string(*percent) + "%)";
    }
    std::fprintf(stderr, "telvora: %s  %lld%s bytes%s  %lld blocks  %d errors  %s\n",
                 progress.fileName.c_str(), static_cast<long long>(progress.bytes), total.c_str(),
                 share.c_str(), static_cast<long long>(progress.blocks), progress.errorCount,
                 progress.status.c_str());
    std::fflush(stderr);
}

} // namespace telvora
