#pragma once

// Runs the telvora program from a shell for a test: its exit status, what it
// printed and its messages. Every run is bounded by a timeout.

#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace telvora::test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Runs telvora with `arguments`; `timeout` bounds every run.
inline Outcome RunTelvora(const std::string& arguments) {
    // CTest runs the cases of this file in parallel: one file per run.
    static std::atomic<int> runs{0};
    const auto errPath =
        std::filesystem::temp_directory_path() /
        ("telvora_cli_test." + std::to_string(getpid()) + "." + std::to_string(++runs) + ".err");
    const std::string command =
        "timeout 60 " + Quote(TELVORA_BINARY) + " " + arguments + " 2>" + Quote(errPath.string());
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return outcome;
    }
    std::array<char, 4096> buffer{};
    std::size_t count = 0;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        outcome.out.append(buffer.data(), count);
    }
    const int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.err = ReadAll(errPath);
    std::filesystem::remove(errPath);
    return outcome;
}

} // namespace telvora::test
