#pragma once

#include <cstdint>

namespace telvora {

// Takes the received bytes whole while a file transfer runs instead of the
// screen (the block receiver). Called on the connection's thread.
class TChunkSink {
public:
    virtual ~TChunkSink() = default;
    // Returns how many of the bytes the transfer took: fewer once it has
    // ended, and what it did not take (the board's text after the transfer)
    // goes to the screen.
    virtual int ReceiveChunk(const std::uint8_t* data, int count) = 0;
};

} // namespace telvora
