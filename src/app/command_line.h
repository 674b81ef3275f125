#pragma once

#include <optional>
#include <string>
#include <vector>

namespace telvora {

// What the user asked for on the command line:
//   telvora [options] [MOVIE-FILE]
// The longest --exit-after: one week, far inside a timer's range.
inline constexpr double kMaxExitAfterSeconds = 7 * 24 * 3600.0;

struct CommandLineOptions {
    std::optional<std::string> moviePath;
    std::optional<int> speed;     // a Speed entry's tag
    std::optional<int> fontDelta; // a Size entry's tag
    bool headless = false;
    bool exitWhenDone = false;
    std::optional<double> exitAfterSeconds;
    bool dumpScreen = false;
    std::optional<std::string> screenshotPath;
    bool help = false;
    bool version = false;
};

struct CommandLineResult {
    CommandLineOptions options;
    // Empty when the arguments were understood; otherwise what was wrong.
    std::string error;
    bool Ok() const { return error.empty(); }
};

// `arguments` without the program name.
CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments);
std::string CommandLineUsage();

} // namespace telvora
