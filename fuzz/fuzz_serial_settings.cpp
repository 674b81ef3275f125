// Serial line settings and line states that need no device. The input gives a
// termios record as a port might hand it over (any bits), the line settings
// (every member in range), and two line-state snapshots.
//   - Writing the settings into the record either fails with EINVAL (a speed
//     or a character size Linux does not have), leaving the record alone, or
//     gives a binary line with exactly the asked speed, size, parity, stop
//     bits, flow control and characters, and keeps every bit it has no
//     business with.
//   - The events and errors between two snapshots are the plain differences.
#include "connection/serial/comm_types.h"
#include "connection/serial/control_block.h"
#include "connection/serial/line_state.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "serial settings: %s\n", what);
        std::abort();
    }
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = value << 8 | Byte();
        }
        return value;
    }
    void Fill(void* to, std::size_t count) {
        auto* bytes = static_cast<std::uint8_t*>(to);
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = Byte();
        }
    }
    std::string Rest() {
        std::string rest(reinterpret_cast<const char*>(m_data) + m_pos, m_size - m_pos);
        m_pos = m_size;
        return rest;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

struct Rate {
    int bitsPerSecond;
    speed_t speed; // 0: Linux has no constant for it
};

// In the order of TBaudrate.
constexpr Rate kRates[] = {{110, B110},       {300, B300},     {600, B600},   {1200, B1200},
                           {2400, B2400},     {4800, B4800},   {9600, B9600}, {14400, 0},
                           {19200, B19200},   {38400, B38400}, {56000, 0},    {57600, B57600},
                           {115200, B115200}, {128000, 0},     {256000, 0},   {230400, B230400}};

tcflag_t Bits(tcflag_t flags, tcflag_t mask) {
    return flags & mask;
}

void CheckSettings(const termios& before, const TLineSettings& settings) {
    termios record = before;
    const TControlBlockResult result = ApplyControlBlock(record, settings);
    const Rate rate = kRates[static_cast<int>(settings.BaudRate)];
    Check(TermiosSpeed(settings.BaudRate) == rate.speed, "speed constant");
    Check(BaudRateValue(settings.BaudRate) == rate.bitsPerSecond, "bits per second");
    Check(DatabitsValue(settings.Databits) == 4 + static_cast<int>(settings.Databits), "data bits");

    if (rate.speed == 0 || settings.Databits == TDatabits::da4) {
        Check(result.Error == EINVAL, "an impossible setting was taken");
        Check(result.Lines == TModemLineAction::Leave, "lines changed on a failure");
        Check(std::memcmp(&record, &before, sizeof record) == 0, "record changed on a failure");
        return;
    }
    Check(result.Error == 0, "a possible setting was refused");
    Check(cfgetispeed(&record) == rate.speed && cfgetospeed(&record) == rate.speed, "speed");

    constexpr tcflag_t kSizes[] = {0, CS5, CS6, CS7, CS8};
    Check(Bits(record.c_cflag, CSIZE) == kSizes[static_cast<int>(settings.Databits)],
          "character size");
    constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                    PARENB | CMSPAR};
    Check(Bits(record.c_cflag, PARENB | PARODD | CMSPAR) ==
              kParity[static_cast<int>(settings.Parity)],
          "parity");
    Check(((record.c_cflag & CSTOPB) != 0) == (settings.Stopbits != TStopbits::sb10), "stop bits");
    Check(Bits(record.c_cflag, CLOCAL | CREAD) == (CLOCAL | CREAD), "local receiving line");

    // Binary: nothing translated, echoed, edited or turned into signals.
    Check(Bits(record.c_iflag, IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC |
                                   IMAXBEL | IGNPAR) == 0,
          "input translation");
    Check(Bits(record.c_oflag, OPOST) == 0, "output processing");
    Check(Bits(record.c_lflag, ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN) == 0,
          "line discipline");
    Check(((record.c_iflag & INPCK) != 0) == settings.Options.Contains(TCommOption::coParityCheck),
          "parity check");

    Check(record.c_cc[VSTART] == settings.XonChar && record.c_cc[VSTOP] == settings.XoffChar,
          "flow control characters");
    Check(record.c_cc[VMIN] == 0 && record.c_cc[VTIME] == 0, "reads wait");

    const tcflag_t softwareFlow = IXON | IXOFF | IXANY;
    switch (settings.FlowControl) {
    case TFlowControl::fcNone:
        Check(Bits(record.c_cflag, CRTSCTS) == 0 && Bits(record.c_iflag, softwareFlow) == 0,
              "no flow control");
        Check(result.Lines == TModemLineAction::DropDtrRts, "lines without flow control");
        break;
    case TFlowControl::fcCTS:
        Check(Bits(record.c_cflag, CRTSCTS) == CRTSCTS, "hardware flow control");
        Check(Bits(record.c_iflag, softwareFlow) ==
                  (settings.ExclusiveFlowControl ? 0 : Bits(before.c_iflag, softwareFlow)),
              "software flow with hardware flow control");
        Check(result.Lines == TModemLineAction::Leave, "lines with hardware flow control");
        break;
    case TFlowControl::fcDTR:
        Check(Bits(record.c_cflag, CRTSCTS) == Bits(before.c_cflag, CRTSCTS) &&
                  Bits(record.c_iflag, softwareFlow) == Bits(before.c_iflag, softwareFlow),
              "flow bits with DTR flow control");
        Check(result.Lines == TModemLineAction::RaiseDtr, "lines with DTR flow control");
        break;
    case TFlowControl::fcSoftware:
        Check(Bits(record.c_iflag, IXON | IXOFF) == (IXON | IXOFF), "software flow control");
        Check(Bits(record.c_cflag, CRTSCTS) ==
                  (settings.ExclusiveFlowControl ? 0 : Bits(before.c_cflag, CRTSCTS)),
              "hardware flow with software flow control");
        Check(result.Lines == TModemLineAction::Leave, "lines with software flow control");
        break;
    case TFlowControl::fcDefault:
        Check(Bits(record.c_cflag, CRTSCTS) == Bits(before.c_cflag, CRTSCTS) &&
                  Bits(record.c_iflag, softwareFlow) == Bits(before.c_iflag, softwareFlow),
              "flow bits by default");
        Check(result.Lines == TModemLineAction::Leave, "lines by default");
        break;
    }

    // Bits the settings do not speak of stay as the port had them.
    const tcflag_t ownOflag = OPOST;
    const tcflag_t ownLflag = ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;
    const tcflag_t ownCflag =
        CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CLOCAL | CREAD | CRTSCTS | CBAUD | CBAUDEX;
    Check(Bits(record.c_oflag, ~ownOflag) == Bits(before.c_oflag, ~ownOflag), "other output bits");
    Check(Bits(record.c_lflag, ~ownLflag) == Bits(before.c_lflag, ~ownLflag), "other local bits");
    Check(Bits(record.c_cflag, ~ownCflag) == Bits(before.c_cflag, ~ownCflag), "other control bits");
    Check(record.c_line == before.c_line, "line discipline number");
    for (int i = 0; i < NCCS; ++i) {
        if (i != VSTART && i != VSTOP && i != VMIN && i != VTIME) {
            Check(record.c_cc[i] == before.c_cc[i], "other control characters");
        }
    }

    // Writing the same settings again changes nothing more.
    termios again = record;
    Check(ApplyControlBlock(again, settings).Error == 0, "second write refused");
    Check(std::memcmp(&again, &record, sizeof record) == 0, "second write differs");
}

TLineSnapshot Snapshot(Input& input) {
    TLineSnapshot s;
    const std::uint8_t flags = input.Byte();
    s.HasCounters = (flags & 1) != 0;
    s.HasLines = (flags & 2) != 0;
    s.Lines = static_cast<int>(input.Word());
    // Small counters, so that equal ones are common.
    int* counters[] = {&s.Cts,     &s.Dsr,    &s.Ring,  &s.Dcd,       &s.Frame,
                       &s.Overrun, &s.Parity, &s.Break, &s.BufOverrun};
    for (int* counter : counters) {
        *counter = input.Byte() % 4;
    }
    return s;
}

std::uint32_t Event(TCommEventType type) {
    return static_cast<std::uint32_t>(type);
}

std::uint32_t ExpectedErrors(const TLineSnapshot& a, const TLineSnapshot& b) {
    if (!a.HasCounters || !b.HasCounters) {
        return 0;
    }
    std::uint32_t errors = 0;
    errors |= a.BufOverrun != b.BufOverrun ? kLineErrorRxOver : 0;
    errors |= a.Overrun != b.Overrun ? kLineErrorOverrun : 0;
    errors |= a.Parity != b.Parity ? kLineErrorParity : 0;
    errors |= a.Frame != b.Frame ? kLineErrorFrame : 0;
    errors |= a.Break != b.Break ? kLineErrorBreak : 0;
    return errors;
}

std::uint32_t ExpectedEvents(const TLineSnapshot& a, const TLineSnapshot& b) {
    std::uint32_t events = 0;
    if (a.HasCounters && b.HasCounters) {
        events |= a.Cts != b.Cts ? Event(TCommEventType::evCts) : 0;
        events |= a.Dsr != b.Dsr ? Event(TCommEventType::evDsr) : 0;
        events |= a.Ring != b.Ring ? Event(TCommEventType::evRing) : 0;
        events |= a.Dcd != b.Dcd ? Event(TCommEventType::evRlsd) : 0;
        events |= a.Break != b.Break ? Event(TCommEventType::evBreak) : 0;
        const bool error = a.BufOverrun != b.BufOverrun || a.Overrun != b.Overrun ||
                           a.Parity != b.Parity || a.Frame != b.Frame;
        events |= error ? Event(TCommEventType::evError) : 0;
    } else if (a.HasLines && b.HasLines) {
        auto changed = [&](int line) { return (a.Lines & line) != (b.Lines & line); };
        events |= changed(TIOCM_CTS) ? Event(TCommEventType::evCts) : 0;
        events |= changed(TIOCM_DSR) ? Event(TCommEventType::evDsr) : 0;
        events |=
            changed(TIOCM_RNG) && (b.Lines & TIOCM_RNG) != 0 ? Event(TCommEventType::evRing) : 0;
        events |= changed(TIOCM_CAR) ? Event(TCommEventType::evRlsd) : 0;
    }
    return events;
}

void CheckLineState(const TLineSnapshot& a, const TLineSnapshot& b) {
    const std::uint32_t errors = LineErrors(a, b);
    const std::uint32_t events = LineEvents(a, b);
    Check(errors == ExpectedErrors(a, b), "line errors");
    Check(events == ExpectedEvents(a, b), "line events");
    Check(LineErrors(b, a) == errors, "line errors depend on the order");
    Check(LineErrors(a, a) == 0 && LineEvents(a, a) == 0, "a snapshot differs from itself");
    // Never an event a line state cannot give.
    const std::uint32_t lineEvents = Event(TCommEventType::evCts) | Event(TCommEventType::evDsr) |
                                     Event(TCommEventType::evRing) | Event(TCommEventType::evRlsd) |
                                     Event(TCommEventType::evBreak) |
                                     Event(TCommEventType::evError);
    Check((events & ~lineEvents) == 0, "an event that is not about the line");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    TLineSettings settings;
    settings.BaudRate = static_cast<TBaudrate>(input.Byte() % 16);
    settings.Parity = static_cast<TParity>(input.Byte() % 5);
    settings.Stopbits = static_cast<TStopbits>(input.Byte() % 3);
    settings.Databits = static_cast<TDatabits>(input.Byte() % 5);
    const std::uint8_t flow = input.Byte();
    settings.FlowControl = static_cast<TFlowControl>(flow % 5);
    settings.ExclusiveFlowControl = flow >= 128;
    settings.Options = TCommOptions::FromMask(input.Word());
    settings.XonChar = input.Byte();
    settings.XoffChar = input.Byte();
    settings.ErrorChar = input.Byte();
    settings.EofChar = input.Byte();
    settings.EvtChar = input.Byte();

    const TLineSnapshot before = Snapshot(input);
    const TLineSnapshot after = Snapshot(input);
    CheckLineState(before, after);

    termios record{};
    input.Fill(&record, sizeof record);
    CheckSettings(record, settings);

    // What is left names a device.
    const std::string name = input.Rest();
    const std::string path = CommDevicePath(name);
    Check(name.find('/') != std::string::npos ? path == name : path == "/dev/" + name,
          "device path");
    return 0;
}
