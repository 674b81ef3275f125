#include "app/program_run.h"

#include "app/command_line_run.h"
#include "app/serial_memory.h"
#include "app/session.h"
#include "app/signal_watch.h"
#include "directory/directory_files.h"
#include "directory/login_keyring.h"
#include "directory/qt_settings_store.h"

#include <QCoreApplication>

#include <cstdio>
#include <string>
#include <vector>

namespace telvora {

namespace {

void ListEntries() {
    TQtSettingsStore store;
    std::string problem;
    std::fputs(ListDirectoryEntries(store, problem).c_str(), stdout);
    if (!problem.empty()) {
        std::fprintf(stderr, "telvora: %s\n", problem.c_str());
    }
}

void DropQtMessage(QtMsgType type, const QMessageLogContext& /*context*/, const QString& text) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "telvora: %s\n", text.toLocal8Bit().constData());
    }
}

} // namespace

std::optional<CommandLineOptions> TakeCommandLine(int argc, char** argv, int& status) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const CommandLineResult parsed = ParseCommandLine(arguments);
    status = 0;
    if (!parsed.Ok()) {
        std::fprintf(stderr, "telvora: %s\n\n%s", parsed.error.c_str(), CommandLineUsage().c_str());
        status = kBadUsage;
        return std::nullopt;
    }
    if (parsed.options.help) {
        std::fputs(CommandLineUsage().c_str(), stdout);
        return std::nullopt;
    }
    if (parsed.options.version) {
        std::printf("Telvora %s\n", TELVORA_VERSION);
        return std::nullopt;
    }
    if (parsed.options.listEntries) {
        ListEntries();
        return std::nullopt;
    }
    return parsed.options;
}

bool ImportDirectory(const std::string& path) {
    TQtSettingsStore store;
    const TLoginKeyring keyring;
    const TImportResult result = ImportDirectoryFile(store, path, &keyring);
    if (!result.Ok) {
        std::fprintf(stderr, "telvora: %s\n", result.Error.c_str());
        return false;
    }
    std::printf("%s\n", result.Summary(path).c_str());
    std::fflush(stdout);
    return true;
}

void NameTheApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("Telvora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TELVORA_VERSION));
}

int Finish(int status) {
    if (const int signal = TSignalWatch::Caught()) {
        TSignalWatch::EndAsSignalled(signal);
    }
    return status;
}

void KeepQtQuiet() {
    qInstallMessageHandler(DropQtMessage);
}

int RunHeadless(const CommandLineOptions& options,
                const std::function<bool(TSession& session)>& leave) {
    TSession session;
    session.SetSerialSettings(RememberedSerialSettings());
    // What a window would show in a box.
    QObject::connect(&session, &TSession::Notice, [](const QString& text) {
        std::fprintf(stderr, "telvora: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    });
    TCommandLineRun run(session, options);
    QObject::connect(&run, &TCommandLineRun::QuitAsked, &QCoreApplication::quit);
    int status = run.Exec([&session] { session.ShutDown(); });
    if (leave && !leave(session)) {
        status = kFailure;
    }
    return status;
}

} // namespace telvora
