#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace telvora {

// Looks at the bytes on their way to the screen for the start of a file
// transfer the other side begins (a ZMODEM sender's first header), so that
// the program can open the transfer by itself. Called on the connection's
// thread only.
class TTransferStartWatch {
public:
    virtual ~TTransferStartWatch() = default;
    // When a start is found in these bytes: how many of them come before
    // the transfer's own (they still go to the screen). The rest, the start
    // itself included, is the transfer's.
    virtual std::optional<std::size_t> Scan(const std::uint8_t* data, std::size_t count) = 0;
    // A start was found; from now on the line's bytes are held until a
    // transfer takes the line, or until the start is declined.
    virtual void Started() = 0;
};

} // namespace telvora
