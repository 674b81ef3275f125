#include "connection/serial/line_state.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include "connection/serial/comm_types.h"

namespace {

constexpr std::uint32_t Bit(TCommEventType e) {
    return static_cast<std::uint32_t>(e);
}

} // namespace

TLineSnapshot ReadLineSnapshot(int fd) {
    TLineSnapshot s;
    serial_icounter_struct counts{};
    if (ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        s.HasCounters = true;
        s.Cts = counts.cts;
        s.Dsr = counts.dsr;
        s.Ring = counts.rng;
        s.Dcd = counts.dcd;
        s.Frame = counts.frame;
        s.Overrun = counts.overrun;
        s.Parity = counts.parity;
        s.Break = counts.brk;
        s.BufOverrun = counts.buf_overrun;
    }
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) == 0) {
        s.HasLines = true;
        s.Lines = lines;
    }
    return s;
}

std::uint32_t LineEvents(const TLineSnapshot& before, const TLineSnapshot& after) {
    std::uint32_t mask = 0;
    if (before.HasCounters && after.HasCounters) {
        // Counters catch a pulse that starts and ends between two looks.
        if (after.Cts != before.Cts) {
            mask |= Bit(TCommEventType::evCts);
        }
        if (after.Dsr != before.Dsr) {
            mask |= Bit(TCommEventType::evDsr);
        }
        if (after.Ring != before.Ring) {
            mask |= Bit(TCommEventType::evRing);
        }
        if (after.Dcd != before.Dcd) {
            mask |= Bit(TCommEventType::evRlsd);
        }
        if (after.Break != before.Break) {
            mask |= Bit(TCommEventType::evBreak);
        }
        if (LineErrors(before, after) & ~kLineErrorBreak) {
            mask |= Bit(TCommEventType::evError);
        }
        return mask;
    }
    if (before.HasLines && after.HasLines) {
        const int changed = before.Lines ^ after.Lines;
        if (changed & TIOCM_CTS) {
            mask |= Bit(TCommEventType::evCts);
        }
        if (changed & TIOCM_DSR) {
            mask |= Bit(TCommEventType::evDsr);
        }
        // A ring is the indicator coming on.
        if (changed & after.Lines & TIOCM_RNG) {
            mask |= Bit(TCommEventType::evRing);
        }
        if (changed & TIOCM_CAR) {
            mask |= Bit(TCommEventType::evRlsd);
        }
    }
    return mask;
}

std::uint32_t LineErrors(const TLineSnapshot& before, const TLineSnapshot& after) {
    if (!before.HasCounters || !after.HasCounters) {
        return 0;
    }
    std::uint32_t errors = 0;
    if (after.BufOverrun != before.BufOverrun) {
        errors |= kLineErrorRxOver;
    }
    if (after.Overrun != before.Overrun) {
        errors |= kLineErrorOverrun;
    }
    if (after.Parity != before.Parity) {
        errors |= kLineErrorParity;
    }
    if (after.Frame != before.Frame) {
        errors |= kLineErrorFrame;
    }
    if (after.Break != before.Break) {
        errors |= kLineErrorBreak;
    }
    return errors;
}
