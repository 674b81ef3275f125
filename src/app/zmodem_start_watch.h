#pragma once

#include "connection/transfer_start_watch.h"
#include "transfer/zmodem/zmodem_start_detector.h"

#include <functional>
#include <utility>

namespace telvora {

// Watches a live line for the other side's ZMODEM send (its first header,
// usually after "rz" and a carriage return) and says so once per start.
// A receiver waiting for our files is not a start: the user chooses them.
class TZmodemStartWatch : public TTransferStartWatch {
public:
    explicit TZmodemStartWatch(std::function<void()> started) : m_started(std::move(started)) {}

    std::optional<std::size_t> Scan(const std::uint8_t* data, std::size_t count) override {
        const TZmodemStartDetector::TFound found = m_detector.Scan(data, count);
        if (found.start != TZmodemStartDetector::TStart::RemoteSends) {
            return std::nullopt;
        }
        // The header itself is the download's, not the screen's, as far as
        // it came in these bytes ("rz" before it still shows).
        return found.used >= kHexHeaderLength ? found.used - kHexHeaderLength : 0;
    }

    void Started() override {
        m_detector.Reset();
        m_started();
    }

private:
    // "**", ZDLE, 'B', then 14 hex digits: type, four data bytes, CRC-16.
    static constexpr std::size_t kHexHeaderLength = 18;

    TZmodemStartDetector m_detector;
    std::function<void()> m_started;
};

} // namespace telvora
