#pragma once

#include <cstddef>
#include <cstdint>

namespace telvora {

// Where a connection writes what the other side shows: the session's screen.
// Called on the connection's thread.
class TScreenSink {
public:
    virtual ~TScreenSink() = default;
    virtual void WriteByte(std::uint8_t code) = 0;
    // A run of bytes at once: the same screen as byte after byte.
    virtual void WriteBlock(const std::uint8_t* data, std::size_t count) = 0;
};

} // namespace telvora
