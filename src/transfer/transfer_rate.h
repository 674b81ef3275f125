#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace telvora {

// The rate of one file's data in bytes a second, from its first data up to
// its latest. The time before the first data is the line's waiting, not its
// carrying, and a resumed file's first count is what was already there.
class TTransferRate {
public:
    using TClock = std::chrono::steady_clock;

    // The next count starts the measure afresh: what went before (a question
    // the user took a while to answer) is no part of it.
    void Rebase() { m_rebase = true; }
    void Count(const std::string& fileName, std::int64_t bytes, TClock::time_point now);
    // None before the file's first data.
    std::optional<double> BytesPerSecond() const { return m_rate; }

private:
    void StartAt(const std::string& fileName, std::int64_t bytes, TClock::time_point now);

    bool m_rebase = true;
    std::string m_file;
    std::int64_t m_baseBytes = 0;
    std::int64_t m_lastBytes = 0;
    TClock::time_point m_since;
    std::optional<double> m_rate;
};

} // namespace telvora
