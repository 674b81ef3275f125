// Random command lines: the input split at NUL bytes into arguments. Whatever
// the arguments, the parser either understands them or says what is wrong;
// what it understood is always a value the menus have, and writing it back as
// a command line gives the same options again.
#include "app/command_line.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace {

using telvora::CommandLineOptions;
using telvora::CommandLineResult;

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "command line: %s\n", what);
        std::abort();
    }
}

bool SameOptions(const CommandLineOptions& a, const CommandLineOptions& b) {
    return a.moviePath == b.moviePath && a.telnet == b.telnet && a.serialDevice == b.serialDevice &&
           a.speed == b.speed && a.fontDelta == b.fontDelta && a.headless == b.headless &&
           a.exitWhenDone == b.exitWhenDone && a.exitAfterSeconds == b.exitAfterSeconds &&
           a.dumpScreen == b.dumpScreen && a.screenshotPath == b.screenshotPath &&
           a.dumpText == b.dumpText && a.saveScrollbackPath == b.saveScrollbackPath &&
           a.sendTextPath == b.sendTextPath && a.typingPace == b.typingPace && a.help == b.help &&
           a.version == b.version;
}

std::string SpeedWord(int speed) {
    return speed == 999999999 ? "max" : std::to_string(speed);
}

std::string SizeWord(int fontDelta) {
    return fontDelta == 0 ? "small" : fontDelta == 8 ? "medium" : "large";
}

// The shortest text that reads back as exactly this number.
std::string SecondsText(double seconds) {
    std::array<char, 64> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(), seconds);
    Check(error == std::errc(), "seconds do not print");
    return std::string(text.data(), end);
}

// A command line that asks for exactly these options, with each value in
// the other spelling where one is possible.
std::vector<std::string> Arguments(const CommandLineOptions& options) {
    std::vector<std::string> arguments;
    if (options.speed) {
        arguments.insert(arguments.end(), {"--speed", SpeedWord(*options.speed)});
    }
    if (options.fontDelta) {
        arguments.push_back("--size=" + SizeWord(*options.fontDelta));
    }
    if (options.exitAfterSeconds) {
        arguments.push_back("--exit-after=" + SecondsText(*options.exitAfterSeconds));
    }
    if (options.screenshotPath) {
        arguments.push_back("--screenshot=" + *options.screenshotPath);
    }
    if (options.saveScrollbackPath) {
        arguments.push_back("--save-scrollback=" + *options.saveScrollbackPath);
    }
    if (options.sendTextPath) {
        arguments.push_back("--send-text=" + *options.sendTextPath);
    }
    if (options.dumpText) {
        arguments.push_back("--dump-text");
    }
    if (options.typingPace) {
        arguments.push_back("--typing-pace=" + std::to_string(options.typingPace->characterMs) +
                            "," + std::to_string(options.typingPace->lineEndMs));
    }
    if (options.noTelnetFilter) {
        arguments.push_back("--no-telnet-filter");
    }
    if (options.headless) {
        arguments.push_back("--headless");
    }
    if (options.exitWhenDone) {
        arguments.push_back("--exit-when-done");
    }
    if (options.dumpScreen) {
        arguments.push_back("--dump-screen");
    }
    if (options.help) {
        arguments.push_back("-h");
    }
    if (options.version) {
        arguments.push_back("--version");
    }
    if (options.telnet) {
        // An IPv6 host goes in brackets, so that its colons are not taken for the port's.
        const std::string& host = options.telnet->host;
        const std::string address = host.find(':') != std::string::npos ? "[" + host + "]" : host;
        const std::string user = options.telnet->user.empty() ? "" : options.telnet->user + "@";
        arguments.push_back((options.telnet->raw ? "raw://" : "telnet://") + user + address + ":" +
                            options.telnet->port);
    }
    if (options.serialDevice) {
        arguments.push_back("--serial=" + *options.serialDevice);
    }
    if (options.receive) {
        arguments.push_back(
            (options.receive->batch ? "--receive-fmodem=" : "--receive-xmodem-1k=") +
            options.receive->where);
    }
    if (options.moviePath) {
        // After "--" even a name that looks like an option is the movie.
        arguments.insert(arguments.end(), {"--", *options.moviePath});
    }
    return arguments;
}

void CheckUnderstood(const CommandLineResult& result) {
    const CommandLineOptions& options = result.options;
    if (options.speed) {
        const int speed = *options.speed;
        Check(speed == 300 || speed == 600 || speed == 1200 || speed == 2400 || speed == 999999999,
              "speed");
    }
    if (options.fontDelta) {
        const int delta = *options.fontDelta;
        Check(delta == 0 || delta == 8 || delta == 16, "font size");
    }
    if (options.exitAfterSeconds) {
        const double seconds = *options.exitAfterSeconds;
        Check(seconds >= 0 && seconds <= telvora::kMaxExitAfterSeconds, "exit-after range");
    }
    Check(!options.moviePath || !options.moviePath->empty(), "empty movie name");
    Check((options.moviePath ? 1 : 0) + (options.telnet ? 1 : 0) + (options.serialDevice ? 1 : 0) <=
              1,
          "more than one thing opened at start");
    if (options.telnet) {
        Check(!options.telnet->host.empty(), "empty Telnet host");
        const int port = std::stoi(options.telnet->port);
        Check(port >= 1 && port <= 65535 && std::to_string(port) == options.telnet->port,
              "Telnet port");
    }
    Check(!options.serialDevice || !options.serialDevice->empty(), "empty serial device");
    Check(!options.receive ||
              (!options.receive->where.empty() && (options.telnet || options.serialDevice)),
          "a download without a place or a connection");
    Check(!options.screenshotPath || !options.screenshotPath->empty(), "empty screenshot name");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments;
    if (size > 0) {
        arguments.emplace_back();
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0) {
                arguments.emplace_back();
            } else {
                arguments.back().push_back(static_cast<char>(data[i]));
            }
        }
    }

    const CommandLineResult result = telvora::ParseCommandLine(arguments);
    Check(result.Ok() != !result.error.empty(), "Ok() and the error disagree");
    if (!result.Ok()) {
        return 0;
    }
    CheckUnderstood(result);

    const CommandLineResult again = telvora::ParseCommandLine(Arguments(result.options));
    Check(again.Ok(), "the options written back are refused");
    Check(SameOptions(again.options, result.options), "the options written back differ");

    // Reading the same arguments twice gives the same answer.
    const CommandLineResult twice = telvora::ParseCommandLine(arguments);
    Check(twice.Ok() && SameOptions(twice.options, result.options), "not repeatable");
    return 0;
}
