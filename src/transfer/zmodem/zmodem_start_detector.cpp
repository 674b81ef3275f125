#include "transfer/zmodem/zmodem_start_detector.h"

namespace telvora {

TZmodemStartDetector::TFound TZmodemStartDetector::Scan(const std::uint8_t* data,
                                                        std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        // Every byte bound for the screen passes here: between headers only
        // a pad can begin one, so the bytes before it need no decoding.
        if (m_decoder.Idle() && (data[i] & 0x7F) != zmodem::kPad) {
            while (i < count && (data[i] & 0x7F) != zmodem::kPad) {
                ++i;
            }
            m_decoder.Reset(); // the CANs counted so far are no run any more
            if (i == count) {
                break;
            }
        }
        const TZmodemEvent event = m_decoder.Feed(data[i]);
        if (event.kind != TZmodemEvent::Kind::Header || event.encoding != THeaderEncoding::Hex) {
            continue;
        }
        if (event.type == zmodem::kRqInit) {
            m_decoder.Reset();
            return {TStart::RemoteSends, i + 1};
        }
        if (event.type == zmodem::kRInit) {
            m_decoder.Reset();
            return {TStart::RemoteReceives, i + 1};
        }
    }
    return {TStart::None, count};
}

} // namespace telvora
