#include "app/command_line.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "screen/crt_screen.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr int kBadUsage = 2;
constexpr int kFailure = 1;

// Chooses a Size or Speed entry as the user would from the menu.
void TriggerEntryWithTag(const telvora::Tmain& window, std::initializer_list<const char*> names,
                         int tag) {
    for (const char* name : names) {
        if (window.Entry(name)->data().toInt() == tag) {
            window.Entry(name)->trigger();
        }
    }
}

// Runs the window as the options say; returns the exit status.
int Run(const telvora::CommandLineOptions& options) {
    telvora::Tmain window;
    if (options.fontDelta) {
        TriggerEntryWithTag(window, {"Small1", "Medium1", "Large1"}, *options.fontDelta);
    }
    if (options.speed) {
        TriggerEntryWithTag(window,
                            {"N300BPS1", "N600BPS1", "N1200BPS1", "N2400BPS1", "FullSpeed1"},
                            *options.speed);
    }
    window.show();

    int status = 0;
    if (options.moviePath &&
        !window.PlayMovie(QString::fromLocal8Bit(options.moviePath->c_str()))) {
        status = kFailure;
    }
    const bool running = window.RunningConnection() != nullptr;
    if (options.exitWhenDone) {
        QObject::connect(&window, &telvora::Tmain::ConnectionEnded, &window, &QWidget::close,
                         Qt::QueuedConnection);
    }
    if (options.exitAfterSeconds) {
        QTimer::singleShot(static_cast<int>(*options.exitAfterSeconds * 1000), &window,
                           &QWidget::close);
    }
    // A movie that cannot be read, or nothing left to wait for, ends the run at once.
    const bool quitNow = status != 0 || (options.exitWhenDone && !running);
    if (!quitNow) {
        QApplication::exec();
    }
    window.ShutDown();

    if (options.dumpScreen) {
        std::fputs(window.Screen()->DumpText().c_str(), stdout);
        std::fflush(stdout);
    }
    if (options.screenshotPath &&
        !window.Screen()->grab().save(QString::fromLocal8Bit(options.screenshotPath->c_str()),
                                      "PNG")) {
        std::fprintf(stderr, "telvora: cannot save the screenshot to '%s'\n",
                     options.screenshotPath->c_str());
        status = kFailure;
    }
    return status;
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
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Telvora"));
    QApplication::setApplicationVersion(QStringLiteral(TELVORA_VERSION));
    return Run(options);
}
