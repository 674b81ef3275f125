#include "app/command_line.h"
#include "app/command_line_run.h"
#include "app/main_window.h"
#include "app/program_run.h"
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

using telvora::kBadUsage;
using telvora::kFailure;

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

// The picture --screenshot asks for: the window's screen, or headless a view
// of the session's screen made for it alone.
bool SaveTheScreenshot(telvora::TSession& session, const telvora::TCrtScreen* screen,
                       const telvora::CommandLineOptions& options) {
    std::unique_ptr<telvora::TCrtScreen> view;
    if (screen == nullptr) {
        view = std::make_unique<telvora::TCrtScreen>(session.SharedModel());
        view->SetFontDelta(options.fontDelta.value_or(telvora::Tmain::kMediumFontDelta));
        screen = view.get();
    }
    return SaveScreenshot(*screen, *options.screenshotPath);
}

// Runs the session as the options say in its window, or headless with a
// screenshot; returns the exit status. Every way out after the session
// exists passes through ShutDown.
int Run(const telvora::CommandLineOptions& options) {
    // Refused before anything runs, not after a whole session.
    if (options.screenshotPath && ScreenshotFormat(*options.screenshotPath).isEmpty()) {
        std::fprintf(stderr,
                     "telvora: cannot save a screenshot as '%s': no image format is known by "
                     "that suffix (the known ones: %s)\n",
                     options.screenshotPath->c_str(), WritableFormats().c_str());
        return kBadUsage;
    }
    if (options.headless) {
        return telvora::RunHeadless(options, [&options](telvora::TSession& session) {
            return !options.screenshotPath || SaveTheScreenshot(session, nullptr, options);
        });
    }
    telvora::TSession session;
    telvora::Tmain window(session, telvora::Tmain::Sound::On);
    if (options.fontDelta) {
        window.SetFontDelta(*options.fontDelta);
    }
    telvora::TCommandLineRun run(session, options);
    QObject::connect(&run, &telvora::TCommandLineRun::QuitAsked, &window,
                     [&window] { CloseEverything(window); });
    window.show();
    int status = run.Exec([&window] { window.ShutDown(); });
    if (options.screenshotPath && !SaveTheScreenshot(session, window.Screen(), options)) {
        status = kFailure;
    }
    return status;
}

} // namespace

// The window program: the launcher (telvora) starts it for every run with a
// window, and for a headless one that wants a screenshot.
int main(int argc, char** argv) {
    int status = 0;
    const std::optional<telvora::CommandLineOptions> options =
        telvora::TakeCommandLine(argc, argv, status);
    if (!options) {
        return status;
    }
    if (options->headless) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        telvora::SetMessagesToStandardError(true);
        telvora::KeepQtQuiet();
    }
    QApplication app(argc, argv);
    telvora::NameTheApplication();
    // The program a user starts is telvora: its windows belong to its
    // desktop entry, whatever this program's own file is called.
    QGuiApplication::setDesktopFileName(QStringLiteral("telvora"));
    return telvora::Finish(Run(*options));
}
