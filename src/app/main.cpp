// The program a user starts. A headless run is carried out here, with Qt
// Core alone: no widget, no picture and no sound libraries are loaded, so a
// script's run starts and ends fast. A run with a window (or a headless one
// that wants a screenshot) is handed to the window program, which takes the
// same command line.
#include "app/program_run.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

// Beside this program in the build, where it is installed otherwise; empty
// when this program's own place cannot be read.
std::filesystem::path WindowProgram() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    const std::filesystem::path folder = self.parent_path();
    const std::filesystem::path beside = folder / "telvora-window";
    if (std::filesystem::exists(beside, error)) {
        return beside;
    }
    return folder / TELVORA_WINDOW_FROM_BIN;
}

int StartWindowProgram(char** argv) {
    const std::string program = WindowProgram().string();
    if (program.empty()) {
        std::fprintf(stderr,
                     "telvora: cannot find the window program: /proc/self/exe cannot be read\n");
        return telvora::kFailure;
    }
    // argv[0] stays as the user gave it: the window's class (and so its
    // desktop entry) is named after it.
    ::execv(program.c_str(), argv);
    std::fprintf(stderr, "telvora: cannot start the window program '%s': %s\n", program.c_str(),
                 std::strerror(errno));
    return telvora::kFailure;
}

} // namespace

int main(int argc, char** argv) {
    int status = 0;
    const std::optional<telvora::CommandLineOptions> options =
        telvora::TakeCommandLine(argc, argv, status);
    if (!options) {
        return status;
    }
    // An import alone needs no window; with a connection the run imports.
    const bool importOnly = options->importPath && !telvora::OpensAtStart(*options);
    if ((!options->headless || options->screenshotPath) && !importOnly) {
        return StartWindowProgram(argv);
    }
    telvora::KeepQtQuiet();
    QCoreApplication app(argc, argv);
    telvora::NameTheApplication();
    if (importOnly) {
        return telvora::ImportDirectory(*options->importPath) ? 0 : telvora::kFailure;
    }
    return telvora::Finish(telvora::RunHeadless(*options));
}
