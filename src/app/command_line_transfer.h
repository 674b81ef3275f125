#pragma once

#include "app/command_line.h"
#include "transfer/transfer_request.h"

#include <QElapsedTimer>
#include <QObject>

namespace telvora {

class TSession;

// A download or upload asked for on the command line, driven through the
// session: an upload as soon as the connection exists (the receiver may ask
// the moment the line is up), a download once the line is up. Headless, the
// progress of every transfer (a board's own ZMODEM send too) is written to
// standard error. A board's own send that does not complete fails the run
// too, and with --exit-when-done ends it: its file will not come.
class TCommandLineTransfer : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kProgressIntervalMs = 250;

    TCommandLineTransfer(TSession& session, const CommandLineOptions& options);
    // True unless a transfer was asked for and did not complete, or one the
    // board began did not.
    bool Succeeded() const { return !m_failed && (!Asked() || m_ended); }
    // The request the options make, when they ask for a transfer.
    static std::optional<TTransferRequest> RequestFrom(const CommandLineOptions& options);

Q_SIGNALS:
    // With --exit-when-done: the transfer has ended, or could not begin.
    void Done();

private:
    bool Asked() const { return m_request.has_value(); }
    void StartLater();
    void Ended(TTransferOutcome outcome);
    void Print(const TTransferProgress& progress);

    TSession& m_session;
    const bool m_headless;
    const bool m_exitWhenDone;
    const std::optional<TTransferRequest> m_request;
    QElapsedTimer m_sinceLine;
    bool m_started = false;
    bool m_ended = false;
    bool m_failed = false;
};

} // namespace telvora
