#pragma once

#include <cstdint>

namespace telvora {

// A live line that typed keys can be sent to (Telnet, serial); a movie is not.
class TByteSender {
public:
    virtual ~TByteSender() = default;
    // One code as one byte, on the user-interface thread.
    virtual void SendByte(std::uint8_t code) = 0;
};

} // namespace telvora
