#pragma once

#include "app/command_line.h"

#include <functional>
#include <optional>

namespace telvora {

class TSession;

inline constexpr int kBadUsage = 2;
inline constexpr int kFailure = 1;

// The command line as both programs take it: a usage error, --help,
// --version and --list-entries are answered here and give the exit status;
// otherwise the options to run with.
std::optional<CommandLineOptions> TakeCommandLine(int argc, char** argv, int& status);

// --import-directory: the file into the host directory, and what was taken
// and skipped on standard output (the failure on standard error). An
// application object exists. False when it failed.
bool ImportDirectory(const std::string& path);

// The application's name and version, as both programs give them.
void NameTheApplication();

// The exit status of a run, unless a signal ended it: then the process
// ends as the signal would have, now that everything is closed.
int Finish(int status);

// Headless, only the program's own messages reach standard error: Qt's
// notes on its platform, paths and plugins mean nothing to a script.
void KeepQtQuiet();

// A run without a window (an application object exists): the session and
// the command line's run alone. Once the session has shut down and the
// screen and scrollback are out, leave does what else the caller wants
// (false: a failure). Returns the exit status.
int RunHeadless(const CommandLineOptions& options,
                const std::function<bool(TSession& session)>& leave = {});

} // namespace telvora
