#pragma once

#include "app/command_line.h"
#include "app/command_line_transfer.h"

#include <QObject>

namespace telvora {

class TSession;

// What the command line asks of a session, driven through the session
// alone (the window, when there is one, only shows it): the settings, what
// starts at once (a recording, a movie, a connection), a transfer and a
// text file typed once the line is up, and when the run is over.
class TCommandLineRun : public QObject {
    Q_OBJECT

public:
    TCommandLineRun(TSession& session, const CommandLineOptions& options);

    // Applies the settings and starts what the options ask for; false when
    // it could not begin. QuitAsked follows when nothing is left to wait for.
    bool Start();
    // True unless a transfer or a text was asked for and did not complete,
    // or the connection failed.
    bool Succeeded() const;
    // Once the session has shut down: the screen dumped on standard output
    // and the scrollback saved, as asked; false when it could not be written.
    bool Leave();

Q_SIGNALS:
    // The run is over: the connection or the transfer has ended with
    // --exit-when-done, a text was typed, or --exit-after has passed.
    void QuitAsked();

private:
    void ApplySettings();
    bool StartConnections();
    void TypeTextLater();
    void QuitLater();

    TSession& m_session;
    const CommandLineOptions& m_options;
    TCommandLineTransfer m_transfer;
    bool m_textStarted = false;
    bool m_textCompleted = false;
};

} // namespace telvora
