#pragma once

#include <cstdint>

namespace telvora {

// The live line as a file transfer sends through it: bytes out, unpaced,
// from any thread; dropped when the line cannot take them.
class TTransferLine {
public:
    virtual ~TTransferLine() = default;
    virtual void SendTransferBytes(const std::uint8_t* bytes, int count) = 0;
};

} // namespace telvora
