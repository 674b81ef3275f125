#pragma once

#include "transfer/zmodem/zmodem_decoder.h"

#include <cstddef>
#include <cstdint>

namespace telvora {

// Watches what the other side sends to the screen for the start of a ZMODEM
// transfer, across any split into chunks, so the session can open the
// transfer by itself: a hex ZRQINIT (a sender such as sz, usually after
// "rz\r") or a hex ZRINIT (a receiver such as rz, waiting for our files).
// Only a whole header with a good CRC counts, so text that merely contains
// "**" never does.
class TZmodemStartDetector {
public:
    enum class TStart { None, RemoteSends, RemoteReceives };

    struct TFound {
        TStart start = TStart::None;
        // Bytes of the chunk up to and including the header's last digit;
        // what follows belongs to the transfer.
        std::size_t used = 0;
    };

    TFound Scan(const std::uint8_t* data, std::size_t count);
    void Reset() { m_decoder.Reset(); }

private:
    TZmodemDecoder m_decoder;
};

} // namespace telvora
