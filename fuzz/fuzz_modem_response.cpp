// What a modem (or anything on the line) says while a call is dialled. The
// input is the modem's byte stream; a byte 0xFF followed by another moves the
// clock on by that many hundred milliseconds.
//   - No answer line is longer than the reader's limit, and every line is
//     classified.
//   - The dialer is online only after a CONNECT, tries at most Redials + 1
//     times, sends nothing once it has failed or is online, and every command
//     it sends ends in CR.
#include "connection/serial/hayes_dialer.h"
#include "connection/serial/modem_response.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "modem response: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace telvora;
    TModemSettings settings;
    settings.Number = "BBS";
    settings.Redials = size > 0 ? data[0] % 4 : 0;
    THayesDialer dialer(settings);
    TModemResponseReader reader;
    std::chrono::milliseconds now{0};
    dialer.Start(now);
    bool connectHeard = false;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 1 < size) {
            now += std::chrono::milliseconds(100 * data[++i]);
            dialer.Tick(now);
        } else if (const auto response = reader.Feed(data[i])) {
            Check(!response->Text.empty() &&
                      response->Text.size() <= TModemResponseReader::kMaxLine,
                  "line length");
            Check(ClassifyModemLine(response->Text) == response->Result, "classification");
            connectHeard = connectHeard || response->Result == TModemResult::Connect;
            dialer.Heard(*response, now);
        }
        const bool ended = dialer.State() == THayesDialer::TState::Failed ||
                           dialer.State() == THayesDialer::TState::Online;
        const std::string output = dialer.TakeOutput();
        Check(output.empty() || output.back() == '\r', "commands end in CR");
        Check(dialer.State() != THayesDialer::TState::Online || connectHeard, "online unasked");
        Check(dialer.Try() <= settings.Redials + 1, "too many tries");
        if (ended) {
            dialer.Tick(now + std::chrono::hours(1));
            Check(dialer.TakeOutput().empty(), "sent after the end");
        }
    }
    return 0;
}
