// Login steps as a user might write them, then what a board sends. The
// watch types each step at most once, and no placeholder grows its step.
#include "directory/login_steps.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first line is the steps, the rest what the board sends.
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t newline = text.find('\n');
    const std::string_view steps = text.substr(0, newline);
    const std::string_view received =
        newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    const std::vector<telvora::TLoginStep> parsed = telvora::ParseLoginSteps(steps);
    std::size_t most = 0;
    for (const telvora::TLoginStep& step : parsed) {
        most += step.Send.size();
    }
    telvora::TLoginWatch watch(parsed, "user", "password");
    std::size_t typed = 0;
    // Split as a line would deliver it.
    for (std::size_t at = 0; at < received.size(); at += 7) {
        const std::string_view piece = received.substr(at, 7);
        typed +=
            watch.Feed(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()).size();
    }
    if (typed > most) {
        std::abort();
    }
    return 0;
}
