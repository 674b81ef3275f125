#include "app/command_line.h"
#include "app/command_line_run.h"
#include "app/main_window.h"
#include "app/session.h"
#include "app/transfer_commands.h"
#include "common/hand_over.h"
#include "screen/crt_screen.h"
#include "transfer/transfer_window.h"

#include "common/message_box.h"

#include <QApplication>
#include <QBuffer>
#include <QFileInfo>
#include <QImageWriter>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
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
bool SaveScreenshot(const telvora::TCrtScreen& screen, const std::string& path) {
    QByteArray image;
    QBuffer buffer(&image);
    buffer.open(QIODevice::WriteOnly);
    if (!const_cast<telvora::TCrtScreen&>(screen).grab().save(&buffer,
                                                              ScreenshotFormat(path).constData())) {
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

// What a run leaves on standard output and in files once it is over; false
// when something could not be written.
bool Leave(telvora::TSession& session, const telvora::TCrtScreen* screen,
           const telvora::CommandLineOptions& options) {
    bool written = true;
    if (options.dumpScreen) {
        std::fputs(session.Screen().DumpText().c_str(), stdout);
        std::fflush(stdout);
    }
    if (options.dumpText) {
        std::fputs(session.Screen().ScreenText().c_str(), stdout);
        std::fflush(stdout);
    }
    if (options.saveScrollbackPath && !session.SaveScrollback(*options.saveScrollbackPath)) {
        written = false;
    }
    if (options.screenshotPath) {
        // Headless, a view of the screen is made for the picture alone.
        std::unique_ptr<telvora::TCrtScreen> view;
        if (screen == nullptr) {
            view = std::make_unique<telvora::TCrtScreen>(session.SharedModel());
            view->SetFontDelta(options.fontDelta.value_or(telvora::Tmain::kMediumFontDelta));
            screen = view.get();
        }
        written = SaveScreenshot(*screen, *options.screenshotPath) && written;
    }
    return written;
}

// Runs the session as the options say, in its window or headless (no
// widget: only the session and the command line's run); returns the exit
// status. Every way out after the session exists passes through ShutDown.
int Run(const telvora::CommandLineOptions& options) {
    // Refused before anything runs, not after a whole session.
    if (options.screenshotPath && ScreenshotFormat(*options.screenshotPath).isEmpty()) {
        std::fprintf(stderr,
                     "telvora: cannot save a screenshot as '%s': no image format is known by "
                     "that suffix (the known ones: %s)\n",
                     options.screenshotPath->c_str(), WritableFormats().c_str());
        return kBadUsage;
    }
    telvora::TSession session;
    std::unique_ptr<telvora::Tmain> window;
    if (!options.headless) {
        window = std::make_unique<telvora::Tmain>(session, telvora::Tmain::Sound::On);
        if (options.fontDelta) {
            window->SetFontDelta(*options.fontDelta);
        }
    } else {
        // What the window would show in a box goes to standard error.
        QObject::connect(&session, &telvora::TSession::Notice,
                         [](const QString& text) { telvora::ShowMessage(nullptr, text); });
    }
    telvora::TCommandLineRun run(session, options);
    QObject::connect(&run, &telvora::TCommandLineRun::QuitAsked, [&window] {
        if (window) {
            CloseEverything(*window);
        } else {
            QCoreApplication::quit();
        }
    });
    if (window) {
        window->show();
    }
    int status = run.Start() ? 0 : kFailure;
    if (status == 0) {
        QCoreApplication::exec();
    }
    if (window) {
        window->ShutDown();
    }
    session.ShutDown();
    if (!run.Succeeded()) {
        status = kFailure;
    }
    if (!Leave(session, window ? window->Screen() : nullptr, options)) {
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
    // Headless, no widget is made but the picture a screenshot asks for.
    std::unique_ptr<QCoreApplication> app;
    if (options.headless && !options.screenshotPath) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Telvora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELVORA_VERSION));
    return Run(options);
}
