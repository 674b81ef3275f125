#pragma once

#include <cstdint>

namespace telvora {

// Takes the received bytes whole while a file transfer runs instead of the
// screen (the block receiver). Called on the connection's thread.
class TChunkSink {
public:
    virtual ~TChunkSink() = default;
    virtual void ReceiveChunk(const std::uint8_t* data, int count) = 0;
};

} // namespace telvora
