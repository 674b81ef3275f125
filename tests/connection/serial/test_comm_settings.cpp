// Line settings written into termios, error texts, device names and the
// reading of modem-line transitions: the parts of the serial driver that need
// no port.

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <termios.h>

#include "connection/serial/comm_error.h"
#include "connection/serial/comm_types.h"
#include "connection/serial/control_block.h"
#include "connection/serial/line_state.h"

namespace {

// A record as a freshly opened terminal has it: line editing, echo, CR/NL
// translation, software flow control on.
termios CookedRecord() {
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY | IMAXBEL | BRKINT;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | CREAD | HUPCL | PARENB | CSTOPB | CRTSCTS;
    t.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    return t;
}

TLineSettings SerialConnectionSettings() {
    TLineSettings s;
    s.BaudRate = TBaudrate::br19200;
    s.Databits = TDatabits::da8;
    s.Parity = TParity::paNone;
    s.Stopbits = TStopbits::sb10;
    s.FlowControl = TFlowControl::fcNone;
    return s;
}

} // namespace

TEST(CommError, MessageIsTextThenCodeInParenthesesWithSpacesAround) {
    const ECommError e("Error accessing specified device", 2);
    EXPECT_STREQ(e.what(), "Error accessing specified device (Error: 2) ");
    EXPECT_EQ(e.ErrorCode(), 2);
    const ECommError open("Port already assigned (open)", -1);
    EXPECT_STREQ(open.what(), "Port already assigned (open) (Error: -1) ");
    EXPECT_EQ(open.ErrorCode(), -1);
}

TEST(CommTypes, EnumerationsCarryTheirValues) {
    EXPECT_EQ(BaudRateValue(TBaudrate::br110), 110);
    EXPECT_EQ(BaudRateValue(TBaudrate::br19200), 19200);
    EXPECT_EQ(BaudRateValue(TBaudrate::br256000), 256000);
    EXPECT_EQ(DatabitsValue(TDatabits::da4), 4);
    EXPECT_EQ(DatabitsValue(TDatabits::da8), 8);
    EXPECT_EQ(kAllCommEvents.Mask(), 0x1FFu);
    const TCommOptions options{TCommOption::coParityCheck, TCommOption::coNullStrip};
    EXPECT_EQ(options.Mask(), 2u + 2048u);
    EXPECT_TRUE(options.Contains(TCommOption::coNullStrip));
    EXPECT_FALSE(options.Contains(TCommOption::coErrorChar));
}

TEST(CommTypes, BareDeviceNamesAreLookedUpInDev) {
    EXPECT_EQ(CommDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(CommDevicePath("/dev/ttyS1"), "/dev/ttyS1");
    EXPECT_EQ(CommDevicePath("/tmp/x/local"), "/tmp/x/local");
    EXPECT_EQ(CommDevicePath("pts/3"), "pts/3");
}

TEST(ControlBlock, SerialConnectionSettingsGiveABinary8N1LineAt19200WithoutHandshake) {
    termios t = CookedRecord();
    const TControlBlockResult result = ApplyControlBlock(t, SerialConnectionSettings());
    ASSERT_EQ(result.Error, 0);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(t.c_iflag, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
    EXPECT_EQ(result.Lines, TModemLineAction::DropDtrRts);
}

TEST(ControlBlock, NoHandshakeWithParityCheckIsBinaryModeAndParityCheckingOnly) {
    termios t = CookedRecord();
    TLineSettings s = SerialConnectionSettings();
    s.Options = TCommOptions{TCommOption::coParityCheck};
    ASSERT_EQ(ApplyControlBlock(t, s).Error, 0);
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(INPCK));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
}

TEST(ControlBlock, FlowControlChoices) {
    TLineSettings s = SerialConnectionSettings();
    termios t = CookedRecord();
    s.FlowControl = TFlowControl::fcCTS;
    ASSERT_EQ(ApplyControlBlock(t, s).Lines, TModemLineAction::Leave);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);

    t = termios{};
    s.FlowControl = TFlowControl::fcSoftware;
    s.XonChar = 'Q';
    s.XoffChar = 'S';
    ApplyControlBlock(t, s);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 'Q');
    EXPECT_EQ(t.c_cc[VSTOP], 'S');

    t = termios{};
    s.FlowControl = TFlowControl::fcDTR;
    EXPECT_EQ(ApplyControlBlock(t, s).Lines, TModemLineAction::RaiseDtr);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);

    // fcDefault keeps the handshake found on the port, but the line is still binary.
    t = CookedRecord();
    s.FlowControl = TFlowControl::fcDefault;
    EXPECT_EQ(ApplyControlBlock(t, s).Lines, TModemLineAction::Leave);
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_NE(t.c_iflag & IXON, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_iflag & ICRNL, 0u);
}

TEST(ControlBlock, ParityStopAndDataBits) {
    TLineSettings s = SerialConnectionSettings();
    const struct {
        TParity parity;
        tcflag_t flags;
    } parities[] = {{TParity::paNone, 0},
                    {TParity::paOdd, PARENB | PARODD},
                    {TParity::paEven, PARENB},
                    {TParity::paMark, PARENB | PARODD | CMSPAR},
                    {TParity::paSpace, PARENB | CMSPAR}};
    for (const auto& p : parities) {
        termios t = CookedRecord();
        s.Parity = p.parity;
        ASSERT_EQ(ApplyControlBlock(t, s).Error, 0);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), p.flags);
    }
    s.Parity = TParity::paNone;
    termios t = CookedRecord();
    s.Stopbits = TStopbits::sb15;
    s.Databits = TDatabits::da5;
    ApplyControlBlock(t, s);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
    s.Stopbits = TStopbits::sb20;
    s.Databits = TDatabits::da7;
    ApplyControlBlock(t, s);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
}

TEST(ControlBlock, SpeedsAndSizesLinuxLacksAreRefusedAndLeaveTheRecordAlone) {
    TLineSettings s = SerialConnectionSettings();
    for (TBaudrate rate :
         {TBaudrate::br14400, TBaudrate::br56000, TBaudrate::br128000, TBaudrate::br256000}) {
        termios t = CookedRecord();
        const termios before = t;
        s.BaudRate = rate;
        EXPECT_EQ(ApplyControlBlock(t, s).Error, EINVAL);
        EXPECT_EQ(t.c_lflag, before.c_lflag);
        EXPECT_EQ(cfgetospeed(&t), cfgetospeed(&before));
    }
    for (TBaudrate rate :
         {TBaudrate::br110, TBaudrate::br300, TBaudrate::br600, TBaudrate::br1200,
          TBaudrate::br2400, TBaudrate::br4800, TBaudrate::br9600, TBaudrate::br19200,
          TBaudrate::br38400, TBaudrate::br57600, TBaudrate::br115200}) {
        termios t = CookedRecord();
        s.BaudRate = rate;
        EXPECT_EQ(ApplyControlBlock(t, s).Error, 0) << BaudRateValue(rate);
        EXPECT_EQ(cfgetospeed(&t), TermiosSpeed(rate));
    }
    s.BaudRate = TBaudrate::br9600;
    s.Databits = TDatabits::da4;
    termios t = CookedRecord();
    EXPECT_EQ(ApplyControlBlock(t, s).Error, EINVAL);
}

TEST(LineState, CountersReportEveryTransitionAndError) {
    TLineSnapshot before;
    before.HasCounters = before.HasLines = true;
    TLineSnapshot after = before;
    EXPECT_EQ(LineEvents(before, after), 0u);
    // CTS went off and on again between two looks: the levels are equal, the count is not.
    after.Cts = 2;
    after.Ring = 1;
    after.Break = 1;
    after.Parity = 3;
    const std::uint32_t mask = LineEvents(before, after);
    EXPECT_EQ(mask, static_cast<std::uint32_t>(TCommEventType::evCts) |
                        static_cast<std::uint32_t>(TCommEventType::evRing) |
                        static_cast<std::uint32_t>(TCommEventType::evBreak) |
                        static_cast<std::uint32_t>(TCommEventType::evError));
    EXPECT_EQ(LineErrors(before, after), kLineErrorParity | kLineErrorBreak);
    after = before;
    after.Frame = 1;
    after.Overrun = 1;
    after.BufOverrun = 1;
    EXPECT_EQ(LineErrors(before, after), kLineErrorFrame | kLineErrorOverrun | kLineErrorRxOver);
}

TEST(LineState, LevelsOnlyReportChangedLinesAndARisingRing) {
    TLineSnapshot before;
    before.HasLines = true;
    before.Lines = TIOCM_CTS | TIOCM_RNG;
    TLineSnapshot after = before;
    after.Lines = TIOCM_DSR | TIOCM_CAR;
    EXPECT_EQ(LineEvents(before, after), static_cast<std::uint32_t>(TCommEventType::evCts) |
                                             static_cast<std::uint32_t>(TCommEventType::evDsr) |
                                             static_cast<std::uint32_t>(TCommEventType::evRlsd));
    EXPECT_EQ(LineEvents(after, before) & static_cast<std::uint32_t>(TCommEventType::evRing),
              static_cast<std::uint32_t>(TCommEventType::evRing));
    EXPECT_EQ(LineErrors(before, after), 0u);
    // A device without lines reports nothing.
    EXPECT_EQ(LineEvents(TLineSnapshot{}, TLineSnapshot{}), 0u);
}
