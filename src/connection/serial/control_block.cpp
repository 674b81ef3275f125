#include "connection/serial/control_block.h"

#include <cerrno>
#include <optional>

namespace {

void MakeBinary(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IUCLC | IMAXBEL | IGNPAR | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    // CLOCAL: reads and writes do not depend on the carrier line; CREAD: receive.
    t.c_cflag |= CLOCAL | CREAD;
}

void ClearFlowControl(termios& t) {
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
}

// CS5 is 0, so a missing size is told apart by the optional.
std::optional<tcflag_t> CharacterSize(TDatabits bits) {
    switch (bits) {
    case TDatabits::da5:
        return CS5;
    case TDatabits::da6:
        return CS6;
    case TDatabits::da7:
        return CS7;
    case TDatabits::da8:
        return CS8;
    case TDatabits::da4:
        break;
    }
    return std::nullopt;
}

void SetParity(termios& t, TParity parity) {
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (parity) {
    case TParity::paNone:
        break;
    case TParity::paOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case TParity::paEven:
        t.c_cflag |= PARENB;
        break;
    case TParity::paMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case TParity::paSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }
}

TModemLineAction SetFlowControl(termios& t, const TLineSettings& s) {
    if (s.ExclusiveFlowControl &&
        (s.FlowControl == TFlowControl::fcCTS || s.FlowControl == TFlowControl::fcSoftware)) {
        ClearFlowControl(t);
    }
    switch (s.FlowControl) {
    case TFlowControl::fcNone:
        ClearFlowControl(t);
        return TModemLineAction::DropDtrRts;
    case TFlowControl::fcCTS:
        t.c_cflag |= CRTSCTS;
        return TModemLineAction::Leave;
    case TFlowControl::fcDTR:
        // termios has no DSR/DTR handshake. The nearest is to keep DTR asserted
        // so a peer that watches it may send; output is not held back by DSR.
        return TModemLineAction::RaiseDtr;
    case TFlowControl::fcSoftware:
        t.c_iflag |= IXON | IXOFF;
        return TModemLineAction::Leave;
    case TFlowControl::fcDefault:
        break;
    }
    return TModemLineAction::Leave;
}

// Only parity checking has a termios flag. With INPCK and neither IGNPAR nor
// PARMRK the kernel delivers a character received with a parity or framing
// error as a NUL byte, which is what coErrorChar with an ErrorChar of 0 asks
// for; another ErrorChar cannot be substituted. coNullStrip is done by the
// component's Read. DSR sensitivity and transmit-after-XOFF have no equivalent.
void SetOptions(termios& t, TCommOptions options) {
    if (options.Contains(TCommOption::coParityCheck)) {
        t.c_iflag |= INPCK;
    } else {
        t.c_iflag &= ~static_cast<tcflag_t>(INPCK);
    }
}

} // namespace

speed_t TermiosSpeed(TBaudrate rate) {
    switch (rate) {
    case TBaudrate::br110:
        return B110;
    case TBaudrate::br300:
        return B300;
    case TBaudrate::br600:
        return B600;
    case TBaudrate::br1200:
        return B1200;
    case TBaudrate::br2400:
        return B2400;
    case TBaudrate::br4800:
        return B4800;
    case TBaudrate::br9600:
        return B9600;
    case TBaudrate::br19200:
        return B19200;
    case TBaudrate::br38400:
        return B38400;
    case TBaudrate::br57600:
        return B57600;
    case TBaudrate::br115200:
        return B115200;
    case TBaudrate::br230400:
        return B230400;
    case TBaudrate::br14400:
    case TBaudrate::br56000:
    case TBaudrate::br128000:
    case TBaudrate::br256000:
        break;
    }
    return 0;
}

TControlBlockResult ApplyControlBlock(termios& record, const TLineSettings& settings) {
    TControlBlockResult result;
    const speed_t speed = TermiosSpeed(settings.BaudRate);
    const std::optional<tcflag_t> size = CharacterSize(settings.Databits);
    if (speed == 0 || !size) {
        result.Error = EINVAL;
        return result;
    }
    termios t = record;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | *size;
    SetParity(t, settings.Parity);
    // termios knows one or two stop bits only; one and a half is sent as two
    // (a UART set to 5 data bits and two stop bits sends 1.5 anyway).
    if (settings.Stopbits == TStopbits::sb10) {
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    } else {
        t.c_cflag |= CSTOPB;
    }
    t.c_cc[VSTART] = settings.XonChar;
    t.c_cc[VSTOP] = settings.XoffChar;
    // A read returns at once with what is waiting, never waiting for more.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    MakeBinary(t);
    result.Lines = SetFlowControl(t, settings);
    SetOptions(t, settings.Options);
    record = t;
    return result;
}

std::optional<std::string> RefusedSetting(const TLineSettings& settings, const termios& record) {
    termios asked = record;
    if (ApplyControlBlock(asked, settings).Error != 0) {
        return "speed " + std::to_string(BaudRateValue(settings.BaudRate));
    }
    if (cfgetospeed(&record) != cfgetospeed(&asked) ||
        cfgetispeed(&record) != cfgetispeed(&asked)) {
        return "speed " + std::to_string(BaudRateValue(settings.BaudRate));
    }
    if ((record.c_cflag & CSIZE) != (asked.c_cflag & CSIZE)) {
        return std::to_string(DatabitsValue(settings.Databits)) + " data bits";
    }
    constexpr tcflag_t kParity = PARENB | PARODD | CMSPAR;
    if ((record.c_cflag & kParity) != (asked.c_cflag & kParity)) {
        return settings.Parity == TParity::paEven   ? "even parity"
               : settings.Parity == TParity::paOdd  ? "odd parity"
               : settings.Parity == TParity::paNone ? "no parity"
                                                    : "mark or space parity";
    }
    if ((record.c_cflag & CSTOPB) != (asked.c_cflag & CSTOPB)) {
        return settings.Stopbits == TStopbits::sb10 ? "1 stop bit" : "2 stop bits";
    }
    if ((record.c_cflag & CRTSCTS) != (asked.c_cflag & CRTSCTS)) {
        return "RTS/CTS flow control";
    }
    constexpr tcflag_t kSoftware = IXON | IXOFF;
    if ((record.c_iflag & kSoftware) != (asked.c_iflag & kSoftware)) {
        return "XON/XOFF flow control";
    }
    return std::nullopt;
}
