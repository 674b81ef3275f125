#include "transfer/transfer_rate.h"

#include <algorithm>

namespace telvora {

void TTransferRate::Count(const std::string& fileName, std::int64_t bytes, TClock::time_point now) {
    if (m_rebase || fileName != m_file || bytes < m_lastBytes) {
        StartAt(fileName, bytes, now);
        return;
    }
    if (bytes == m_baseBytes) {
        // No data yet: the time so far was spent waiting, not moving bytes.
        m_since = now;
        return;
    }
    // Kept while no new data comes: an ending that follows a pause (ZMODEM
    // waits a moment for the sender's last word) does not lower it.
    if (bytes > m_lastBytes) {
        m_lastBytes = bytes;
        const auto nanoseconds =
            std::max<std::int64_t>(std::chrono::nanoseconds(now - m_since).count(), 1);
        m_rate = static_cast<double>(bytes - m_baseBytes) * 1e9 / static_cast<double>(nanoseconds);
    }
}

void TTransferRate::StartAt(const std::string& fileName, std::int64_t bytes,
                            TClock::time_point now) {
    m_rebase = false;
    m_file = fileName;
    m_baseBytes = bytes;
    m_lastBytes = bytes;
    m_since = now;
    m_rate.reset();
}

} // namespace telvora
