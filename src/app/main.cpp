#include "app/command_line.h"
#include "app/command_line_transfer.h"
#include "app/main_window.h"
#include "app/session.h"
#include "app/text_commands.h"
#include "app/transfer_commands.h"
#include "common/hand_over.h"
#include "screen/crt_screen.h"
#include "transfer/transfer_window.h"

#include "common/message_box.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageWriter>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kBadUsage = 2;
constexpr int kFailure = 1;

// The image format a screenshot's name asks for: its suffix (PNG when it
// has none); empty when Qt cannot write that format.
QByteArray ScreenshotFormat(const std::string& path) {
    const QByteArray suffix =
        QFileInfo(QString::fromLocal8Bit(path.c_str())).suffix().toLower().toLatin1();
    if (suffix.isEmpty()) {
        return QByteArrayLiteral("png");
    }
    return QImageWriter::supportedImageFormats().contains(suffix) ? suffix : QByteArray();
}

std::string WritableFormats() {
    std::string names;
    for (const QByteArray& format : QImageWriter::supportedImageFormats()) {
        names += (names.empty() ? "." : ", .") + format.toStdString();
    }
    return names;
}

// Saves the screen in the format its name asks for; false, after saying
// why, when it cannot be written.
bool SaveScreenshot(const telvora::Tmain& window, const std::string& path) {
    QByteArray image;
    QBuffer buffer(&image);
    buffer.open(QIODevice::WriteOnly);
    if (!window.Screen()->grab().save(&buffer, ScreenshotFormat(path).constData())) {
        std::fprintf(stderr, "telvora: cannot make the screenshot\n");
        return false;
    }
    // The name as the system gave it; written, flushed and closed with a
    // check at each step: a full disk shows only when the bytes leave the buffer.
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr;
    written = written && std::fwrite(image.constData(), 1, static_cast<std::size_t>(image.size()),
                                     file) == static_cast<std::size_t>(image.size());
    written = written && std::fflush(file) == 0;
    const int error = errno;
    if (file != nullptr && std::fclose(file) != 0 && written) {
        written = false;
    }
    if (!written) {
        std::fprintf(stderr, "telvora: cannot save the screenshot to '%s': %s\n", path.c_str(),
                     std::strerror(error != 0 ? error : errno));
        return false;
    }
    return true;
}

// A text file typed into the line once it is up, at a typing pace; the
// program closed when it has been typed, if asked to.
class TextFromTheCommandLine {
public:
    TextFromTheCommandLine(telvora::Tmain& window, telvora::THandOver& later,
                           const telvora::CommandLineOptions& options)
        : m_later(later) {
        if (!options.sendTextPath) {
            return;
        }
        telvora::TSession& session = window.Session();
        QObject::connect(&session, &telvora::TSession::LineCameUp, &window,
                         [this, &window, path = *options.sendTextPath] {
                             m_later.Post([this, &window, path] {
                                 m_started = window.TextCommands().SendTextFile(path);
                                 if (!m_started) {
                                     window.close();
                                 }
                             });
                         });
        QObject::connect(&session, &telvora::TSession::TypingEnded, &window,
                         [this, &window, exit = options.exitWhenDone](bool completed) {
                             m_completed = completed;
                             if (exit) {
                                 m_later.Post([&window] { window.close(); });
                             }
                         });
        m_asked = true;
    }
    // True unless a text was asked for and not typed whole.
    bool Succeeded() const { return !m_asked || (m_started && m_completed); }

private:
    telvora::THandOver& m_later;
    bool m_asked = false;
    bool m_started = false;
    bool m_completed = false;
};

// The transfer windows a run started from the command line left open would
// keep the program running.
void CloseEverything(telvora::Tmain& window) {
    for (telvora::TTransferWindow* transfer : window.Transfers().TransferWindows()) {
        if (transfer->isVisible()) {
            transfer->done(QDialog::Rejected);
        }
    }
    window.close();
}

// Closes the window once the connection has ended; a transfer window still
// open would keep the program running.
void ExitWhenTheConnectionEnds(telvora::Tmain& window, telvora::THandOver& later) {
    QObject::connect(&window.Session(), &telvora::TSession::Ended, &window, [&window, &later] {
        // After what the session tells the user of the end.
        later.Post([&window] { CloseEverything(window); });
    });
}

// Where a ZMODEM download goes when the board begins it, and what it does
// with files already there: asked in the window, but without one to ask in
// (headless) or for a download the command line started, resumed with
// --resume and otherwise received under new names.
void ApplyTransferOptions(telvora::TSession& session, const telvora::CommandLineOptions& options) {
    if (options.downloadFolder) {
        session.SetDownloadFolder(*options.downloadFolder);
    }
    if (options.resume) {
        session.SetExistingFiles(telvora::TExistingFile::Resume);
    } else if (options.headless || options.receive) {
        session.SetExistingFiles(telvora::TExistingFile::Rename);
    }
}

// Starts what the options ask for; false when it could not begin.
bool StartFromTheOptions(telvora::TSession& session, const telvora::CommandLineOptions& options) {
    if (options.recordPath && !session.StartRecording(*options.recordPath)) {
        return false;
    }
    if (options.moviePath && !session.PlayMovie(*options.moviePath)) {
        return false;
    }
    // A connection that fails still ends through its thread.
    if (options.telnet) {
        session.ConnectTelnet(options.telnet->host, options.telnet->port,
                              options.telnet->raw ? telvora::TLineProtocol::Raw
                                                  : telvora::TLineProtocol::Telnet);
    }
    if (options.serialDevice) {
        session.AttachSerial(*options.serialDevice);
    }
    return true;
}

// Runs the session and its window as the options say; returns the exit
// status. Every way out after the window exists passes through ShutDown.
int Run(const telvora::CommandLineOptions& options) {
    // Refused before anything runs, not after a whole session.
    if (options.screenshotPath && ScreenshotFormat(*options.screenshotPath).isEmpty()) {
        std::fprintf(stderr,
                     "telvora: cannot save a screenshot as '%s': no image format is known by "
                     "that suffix (the known ones: %s)\n",
                     options.screenshotPath->c_str(), WritableFormats().c_str());
        return kBadUsage;
    }
    // The window takes the screen as its own.
    telvora::TSession session(new telvora::TCrtScreen);
    telvora::Tmain window(session, options.headless ? telvora::Tmain::Sound::Off
                                                    : telvora::Tmain::Sound::On);
    telvora::THandOver later;
    if (options.fontDelta) {
        window.SetFontDelta(*options.fontDelta);
    }
    ApplyTransferOptions(session, options);
    if (options.columns) {
        session.SetColumns(*options.columns);
    }
    if (options.speed) {
        session.SetSpeed(*options.speed);
    }
    if (options.noTelnetFilter) {
        session.SetTelnetFilter(false);
    }
    if (options.escapeLiteral) {
        session.SetEscapeShowsControls(true);
    }
    if (options.typingPace) {
        session.Typist().SetPace({options.typingPace->characterMs, options.typingPace->lineEndMs});
    }
    window.show();

    telvora::TCommandLineTransfer transfer(session, options);
    QObject::connect(&transfer, &telvora::TCommandLineTransfer::Done, &window,
                     [&window, &later] { later.Post([&window] { CloseEverything(window); }); });
    TextFromTheCommandLine text(window, later, options);
    if (options.exitWhenDone) {
        ExitWhenTheConnectionEnds(window, later);
    }
    int status = StartFromTheOptions(session, options) ? 0 : kFailure;
    const bool running = session.RunningConnection() != nullptr;
    if (options.exitAfterSeconds) {
        QTimer::singleShot(static_cast<int>(*options.exitAfterSeconds * 1000), &window,
                           &QWidget::close);
    }
    // A movie that cannot be read, or nothing left to wait for, ends the run
    // at once.
    const bool quitNow = status != 0 || (options.exitWhenDone && !running);
    if (!quitNow) {
        QApplication::exec();
    }
    window.ShutDown();
    later.ShutDown();
    if (session.LastConnectionFailed() || !transfer.Succeeded() || !text.Succeeded()) {
        status = kFailure;
    }

    if (options.dumpScreen) {
        std::fputs(window.Screen()->DumpText().c_str(), stdout);
        std::fflush(stdout);
    }
    if (options.dumpText) {
        std::fputs(window.Screen()->ScreenText().c_str(), stdout);
        std::fflush(stdout);
    }
    if (options.saveScrollbackPath &&
        !window.TextCommands().SaveScrollback(*options.saveScrollbackPath)) {
        status = kFailure;
    }
    if (options.screenshotPath && !SaveScreenshot(window, *options.screenshotPath)) {
        status = kFailure;
    }
    return status;
}

void DropQtMessage(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "telvora: %s\n", text.toLocal8Bit().constData());
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const telvora::CommandLineResult parsed = telvora::ParseCommandLine(arguments);
    if (!parsed.Ok()) {
        std::fprintf(stderr, "telvora: %s\n\n%s", parsed.error.c_str(),
                     telvora::CommandLineUsage().c_str());
        return kBadUsage;
    }
    const telvora::CommandLineOptions& options = parsed.options;
    if (options.help) {
        std::fputs(telvora::CommandLineUsage().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("Telvora %s\n", TELVORA_VERSION);
        return 0;
    }
    if (options.headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        telvora::SetMessagesToStandardError(true);
        // Only the program's own messages: Qt's notes on its platform, paths
        // and plugins mean nothing to a script, and nothing here plays sound.
        qInstallMessageHandler(DropQtMessage);
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Telvora"));
    QApplication::setApplicationVersion(QStringLiteral(TELVORA_VERSION));
    return Run(options);
}
