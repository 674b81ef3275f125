#include "app/command_line_run.h"

#include "app/program_run.h"
#include "app/session.h"
#include "directory/directory_files.h"
#include "directory/login_keyring.h"
#include "directory/qt_settings_store.h"

#include <QCoreApplication>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace telvora {

TCommandLineRun::TCommandLineRun(TSession& session, const CommandLineOptions& options)
    : m_session(session), m_options(options), m_transfer(session, options) {
    connect(&m_transfer, &TCommandLineTransfer::Done, this, &TCommandLineRun::QuitLater);
    if (m_options.sendTextPath) {
        connect(&session, &TSession::LineCameUp, this, &TCommandLineRun::TypeTextLater);
        connect(&session, &TSession::TypingEnded, this, [this](bool completed) {
            // A login typed before the text is not the text.
            if (!m_textStarted) {
                return;
            }
            m_textCompleted = completed;
            if (m_options.exitWhenDone) {
                QuitLater();
            }
        });
    }
    if (m_options.exitWhenDone) {
        // After what the session tells the user of the end.
        connect(&session, &TSession::Ended, this, &TCommandLineRun::QuitLater);
    }
    connect(&m_signals, &TSignalWatch::SignalCaught, this, &TCommandLineRun::EndForSignal);
    m_cancelPoll.setInterval(20);
    connect(&m_cancelPoll, &QTimer::timeout, this, &TCommandLineRun::QuitOnceCancelled);
}

void TCommandLineRun::EndForSignal(int signal) {
    if (m_signal != 0) {
        return; // already ending
    }
    m_signal = signal;
    const bool transfer = m_session.InTransfer();
    std::fprintf(stderr, "telvora: %s: %s\n", strsignal(signal),
                 transfer ? "cancelling the transfer and closing the line" : "closing");
    std::fflush(stderr);
    m_session.CancelTransfer();
    m_sinceSignal.start();
    m_cancelPoll.start();
}

void TCommandLineRun::QuitOnceCancelled() {
    const TTransferRun* transfer = m_session.Transfer();
    if (transfer != nullptr && transfer->ThreadAlive() && m_sinceSignal.elapsed() < kCancelWaitMs) {
        return;
    }
    m_cancelPoll.stop();
    Q_EMIT QuitAsked();
}

int TCommandLineRun::Exec(const std::function<void()>& shutDown) {
    const bool started = Start();
    if (started) {
        QCoreApplication::exec();
    }
    shutDown();
    const bool left = Leave();
    return started && Succeeded() && left ? 0 : kFailure;
}

bool TCommandLineRun::Start() {
    ApplySettings();
    // Headless, nothing else would show that the run goes on until stopped.
    if (m_options.headless && (m_options.dumpScreen || m_options.dumpText) &&
        !m_options.exitWhenDone && !m_options.exitAfterSeconds) {
        std::fprintf(stderr, "telvora: the screen is printed when the program ends; it runs until "
                             "it is stopped (--exit-when-done ends it with the movie or "
                             "connection, --exit-after after a time)\n");
        std::fflush(stderr);
    }
    if (!StartConnections()) {
        QuitLater();
        return false;
    }
    if (m_options.exitAfterSeconds) {
        QTimer::singleShot(static_cast<int>(*m_options.exitAfterSeconds * 1000), this,
                           &TCommandLineRun::QuitAsked);
    }
    // Nothing left to wait for.
    if (m_options.exitWhenDone && m_session.RunningConnection() == nullptr) {
        QuitLater();
    }
    return true;
}

bool TCommandLineRun::Succeeded() const {
    const bool textDone = !m_options.sendTextPath || (m_textStarted && m_textCompleted);
    return !m_session.LastConnectionFailed() && m_transfer.Succeeded() && textDone;
}

bool TCommandLineRun::Leave() {
    if (m_options.dumpScreen) {
        std::fputs(m_session.Screen().DumpText().c_str(), stdout);
        std::fflush(stdout);
    }
    if (m_options.dumpText) {
        std::fputs(m_session.Screen().ScreenText().c_str(), stdout);
        std::fflush(stdout);
    }
    return !m_options.saveScrollbackPath || m_session.SaveScrollback(*m_options.saveScrollbackPath);
}

void TCommandLineRun::ApplySettings() {
    // Where a ZMODEM download goes when the board begins it, and what it
    // does with files already there: asked in the window, but without one
    // to ask in (headless) or for a download the command line started,
    // resumed with --resume and otherwise received under new names.
    if (m_options.downloadFolder) {
        m_session.SetDownloadFolder(*m_options.downloadFolder);
    }
    if (m_options.resume) {
        m_session.SetExistingFiles(TExistingFile::Resume);
    } else if (m_options.headless || m_options.receive) {
        m_session.SetExistingFiles(TExistingFile::Rename);
    }
    if (m_options.connectTimeoutSeconds) {
        m_session.SetConnectTimeout(std::chrono::milliseconds(
            static_cast<std::int64_t>(*m_options.connectTimeoutSeconds * 1000)));
    }
    if (m_options.columns) {
        m_session.SetColumns(*m_options.columns);
    }
    if (m_options.speed) {
        m_session.SetSpeed(*m_options.speed);
    }
    ApplySerialSettings();
    if (m_options.noTelnetFilter) {
        m_session.SetTelnetFilter(false);
    }
    if (m_options.escapeLiteral) {
        m_session.SetEscapeShowsControls(true);
    }
    if (m_options.typingPace) {
        m_session.Typist().SetPace(
            {m_options.typingPace->characterMs, m_options.typingPace->lineEndMs});
    }
}

bool TCommandLineRun::StartConnections() {
    if (m_options.importPath && !ImportDirectory(*m_options.importPath)) {
        return false;
    }
    if (m_options.recordPath && !m_session.StartRecording(*m_options.recordPath)) {
        return false;
    }
    if (m_options.entryName && !CallEntry(*m_options.entryName)) {
        return false;
    }
    if (m_options.moviePath && !m_session.PlayMovie(*m_options.moviePath)) {
        return false;
    }
    // A connection that fails still ends through its thread. With a user
    // (telnet://USER@HOST) it logs in by the default steps, as a directory
    // entry would; either way Redial calls it again.
    if (m_options.telnet) {
        THostRow address;
        address.HostName = m_options.telnet->host;
        address.Port = m_options.telnet->port;
        address.Protocol = m_options.telnet->raw ? THostProtocol::Raw : THostProtocol::Telnet;
        address.UserName = m_options.telnet->user;
        m_session.CallAddress(address);
    }
    if (m_options.serialDevice && m_options.dial) {
        m_session.DialModem(*m_options.serialDevice, *m_options.dial);
    } else if (m_options.serialDevice) {
        m_session.AttachSerial(*m_options.serialDevice);
    }
    return true;
}

bool TCommandLineRun::CallEntry(const std::string& name) {
    TQtSettingsStore store;
    const std::optional<THostRow> entry = FindDirectoryEntry(store, name);
    if (!store.Problem().empty()) {
        std::fprintf(stderr, "telvora: %s\n", store.Problem().c_str());
    }
    if (!entry) {
        std::fprintf(stderr, "telvora: the host directory has no entry named '%s'\n", name.c_str());
        return false;
    }
    std::string password;
    if (!entry->UserName.empty()) {
        const TLoginKeyring keyring;
        const std::optional<std::string> kept = keyring.ReadPassword(entry->Description);
        if (kept) {
            password = *kept;
        } else {
            std::fprintf(stderr,
                         "telvora: no keyring answers (%s): the login sends the user name only\n",
                         keyring.LastError().toLocal8Bit().constData());
        }
    }
    // Options given beside the entry win over what it keeps.
    THostRow call = *entry;
    if (m_options.columns) {
        call.Columns = *m_options.columns;
    }
    if (m_options.escapeLiteral) {
        call.EscapeShowsControls = true;
    }
    if (m_options.connectTimeoutSeconds) {
        call.ConnectTimeout = static_cast<int>(std::ceil(*m_options.connectTimeoutSeconds));
    }
    m_session.ConnectToHost(call, password);
    return true;
}

void TCommandLineRun::ApplySerialSettings() {
    TSerialSettings settings = m_session.SerialSettings();
    if (m_options.baud) {
        settings.Speed = *m_options.baud;
    }
    if (m_options.format) {
        ParseSerialFormat(*m_options.format, settings);
    }
    if (m_options.flow) {
        settings.Flow = *m_options.flow;
    }
    m_session.SetSerialSettings(settings);
}

void TCommandLineRun::TypeTextLater() {
    // Outside the step that reported the line.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_textStarted = m_session.SendTextFile(*m_options.sendTextPath);
            if (!m_textStarted) {
                Q_EMIT QuitAsked();
            }
        },
        Qt::QueuedConnection);
}

void TCommandLineRun::QuitLater() {
    QMetaObject::invokeMethod(this, &TCommandLineRun::QuitAsked, Qt::QueuedConnection);
}

} // namespace telvora
