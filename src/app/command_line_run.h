#pragma once

#include "app/command_line.h"
#include "app/command_line_transfer.h"
#include "app/signal_watch.h"

#include <QElapsedTimer>
#include <QObject>

#include <QTimer>

#include <functional>
#include <string>

namespace telvora {

class TSession;

// What the command line asks of a session, driven through the session
// alone (the window, when there is one, only shows it): the settings, what
// starts at once (a recording, a movie, a connection), a transfer and a
// text file typed once the line is up, and when the run is over. SIGTERM,
// SIGINT and SIGHUP end it as Close would: the running transfer is
// cancelled with its protocol's cancel first, so the other side stops at
// once instead of waiting for its own timeout.
class TCommandLineRun : public QObject {
    Q_OBJECT

public:
    TCommandLineRun(TSession& session, const CommandLineOptions& options);

    // The whole run: starts what the options ask for, runs the event loop
    // until the run is over (whoever acts on QuitAsked ends the loop), shuts
    // the session down with shutDown, then dumps the screen and saves the
    // scrollback as asked, also after a failure, when a script needs them
    // most. The exit status.
    int Exec(const std::function<void()>& shutDown);

Q_SIGNALS:
    // The run is over: the connection or the transfer has ended with
    // --exit-when-done, a text was typed, --exit-after has passed, or a
    // signal came.
    void QuitAsked();

private:
    // Applies the settings and starts what the options ask for; false when
    // it could not begin. QuitAsked follows when nothing is left to wait for.
    bool Start();
    // True unless a transfer or a text was asked for and did not complete,
    // or the connection failed.
    bool Succeeded() const;
    // The screen dumped and the scrollback saved; false when it could not be written.
    bool Leave();
    void ApplySettings();
    // --baud, --format and --flow over the session's serial settings.
    void ApplySerialSettings();
    bool StartConnections();
    // --entry: the directory's entry called with its kept password.
    bool CallEntry(const std::string& name);
    void TypeTextLater();
    void QuitLater();
    void EndForSignal(int signal);
    // Quits once the transfer's cancel has gone out, or after kCancelWaitMs.
    void QuitOnceCancelled();

    TSession& m_session;
    const CommandLineOptions& m_options;
    TCommandLineTransfer m_transfer;
    bool m_textStarted = false;
    bool m_textCompleted = false;
    // A block receiver's CANs follow its cancel 250 ms later.
    static constexpr int kCancelWaitMs = 1500;
    TSignalWatch m_signals;
    int m_signal = 0;
    QTimer m_cancelPoll;
    QElapsedTimer m_sinceSignal;
};

} // namespace telvora
