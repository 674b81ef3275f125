#pragma once

#include "transfer/transfer_port.h"
#include "transfer/zmodem/zmodem_receiver.h"

#include <cstddef>
#include <cstdint>

namespace telvora {

// What the transfer run needs of a protocol's state machine. Every call may
// come from any thread; the machine takes its own lock and calls its port
// with that lock held.
class TTransferMachine {
public:
    virtual ~TTransferMachine() = default;
    // Opens what the transfer needs and sends its first bytes; raises
    // ETransferFileError, with nothing started, when a file cannot be made
    // or read.
    virtual void Start() = 0;
    // The line's bytes; returns how many it took (fewer once it has ended:
    // the rest is the screen's).
    virtual std::size_t Receive(const std::uint8_t* data, std::size_t count) = 0;
    virtual void Tick() = 0;
    virtual void Cancel() = 0;
    virtual void LineLost() = 0;
    // The other side has sent nothing for too long: the transfer ends
    // "Timed out", with the protocol's cancel.
    virtual void LineSilent() = 0;
    // The user's answer to the existing-file question.
    virtual void Answer(TExistingFile /*choice*/) {}
    // A streaming sender sends for as long as Pump returns true; others never do.
    virtual bool Streams() const { return false; }
    virtual bool Pump() { return false; }
    virtual bool Running() const = 0;
    virtual TTransferProgress Progress() const = 0;
};

} // namespace telvora
