#pragma once

#include <cstdint>

// Modem-line and line-error state of a port, as far as its driver reports it.
// Real UARTs and USB adapters count every transition of CTS, DSR, RI and DCD
// and every receive error (TIOCGICOUNT); some drivers only give the present
// line levels (TIOCMGET); pseudo-terminals give neither.
struct TLineSnapshot {
    bool HasCounters = false;
    bool HasLines = false;
    int Lines = 0; // TIOCM_* bits
    int Cts = 0;
    int Dsr = 0;
    int Ring = 0;
    int Dcd = 0;
    int Frame = 0;
    int Overrun = 0;
    int Parity = 0;
    int Break = 0;
    int BufOverrun = 0;
};

// Reads the state of the port open on fd.
TLineSnapshot ReadLineSnapshot(int fd);

// Event-mask bits (TCommEventType values) for what changed between two
// snapshots: line changes, a ring, a break, a receive error.
std::uint32_t LineEvents(const TLineSnapshot& before, const TLineSnapshot& after);

// Line-error flags (kLineError*) for the receive errors counted between two snapshots.
std::uint32_t LineErrors(const TLineSnapshot& before, const TLineSnapshot& after);
