#include "connection/serial/custom_comm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <QMetaObject>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "common/posix_io.h"
#include "connection/serial/comm_event_thread.h"

namespace {

constexpr std::int32_t kNoSystemError = -1;

[[noreturn]] void Fail(const char* text, std::int32_t code) {
    throw ECommError(text, code);
}

[[noreturn]] void FailErrno(const char* text) {
    Fail(text, errno);
}

} // namespace

// --- TCommEventChars ---

std::uint8_t TCommEventChars::XonChar() const {
    std::lock_guard lock(m_owner.m_lock);
    return m_owner.m_settings.XonChar;
}
std::uint8_t TCommEventChars::XoffChar() const {
    std::lock_guard lock(m_owner.m_lock);
    return m_owner.m_settings.XoffChar;
}
std::uint8_t TCommEventChars::ErrorChar() const {
    std::lock_guard lock(m_owner.m_lock);
    return m_owner.m_settings.ErrorChar;
}
std::uint8_t TCommEventChars::EofChar() const {
    std::lock_guard lock(m_owner.m_lock);
    return m_owner.m_settings.EofChar;
}
std::uint8_t TCommEventChars::EvtChar() const {
    std::lock_guard lock(m_owner.m_lock);
    return m_owner.m_settings.EvtChar;
}
void TCommEventChars::SetXonChar(std::uint8_t value) {
    m_owner.SetSetting(m_owner.m_settings.XonChar, value);
}
void TCommEventChars::SetXoffChar(std::uint8_t value) {
    m_owner.SetSetting(m_owner.m_settings.XoffChar, value);
}
void TCommEventChars::SetErrorChar(std::uint8_t value) {
    m_owner.SetSetting(m_owner.m_settings.ErrorChar, value);
}
void TCommEventChars::SetEofChar(std::uint8_t value) {
    m_owner.SetSetting(m_owner.m_settings.EofChar, value);
}
void TCommEventChars::SetEvtChar(std::uint8_t value) {
    m_owner.SetSetting(m_owner.m_settings.EvtChar, value);
}

TCommEventChars& TCommEventChars::operator=(const TCommEventChars& other) {
    if (&other == this) {
        return *this;
    }
    const TLineSettings source = [&] {
        std::lock_guard lock(other.m_owner.m_lock);
        return other.m_owner.m_settings;
    }();
    std::lock_guard lock(m_owner.m_lock);
    TLineSettings& s = m_owner.m_settings;
    s.XonChar = source.XonChar;
    s.XoffChar = source.XoffChar;
    s.ErrorChar = source.ErrorChar;
    s.EofChar = source.EofChar;
    s.EvtChar = source.EvtChar;
    m_owner.UpdateControlBlockLocked();
    return *this;
}

// --- TCustomComm: life cycle ---

TCustomComm::TCustomComm(QObject* owner) : QObject(owner) {}

TCustomComm::~TCustomComm() {
    Close();
}

void TCustomComm::Open() {
    std::lock_guard lock(m_lock);
    if (m_fd.load() >= 0) {
        Fail("Port already assigned (open)", kNoSystemError);
    }
    CreateHandle();
    // A setting the driver drops leaves the line as it was found, not half set.
    termios found{};
    const bool haveFound = tcgetattr(m_fd.load(), &found) == 0;
    try {
        // The line settings first: a speed the driver refuses must not leave
        // an open descriptor or a running event thread behind.
        SetTimeoutsLocked();
        UpdateControlBlockLocked();
        FailOnRefusedSettingLocked();
        {
            std::lock_guard handle(m_handleMutex);
            m_lineErrorBase = ReadLineSnapshot(m_fd.load());
        }
        ++m_openGeneration;
        {
            std::lock_guard notify(m_notifyMutex);
            m_events = std::make_unique<telvora::THandOver>(thread());
        }
        auto eventThread = std::make_unique<TCommEventThread>(
            m_fd.load(), m_monitorEvents, [this](std::uint32_t mask) { HandOver(mask); });
        {
            std::lock_guard notify(m_notifyMutex);
            m_notifyTarget = eventThread.get();
        }
        m_eventThread = std::move(eventThread);
    } catch (...) {
        {
            std::lock_guard notify(m_notifyMutex);
            if (m_events) {
                m_events->ShutDown();
            }
        }
        std::lock_guard handle(m_handleMutex);
        if (haveFound) {
            tcsetattr(m_fd.load(), TCSANOW, &found);
        }
        close(m_fd.exchange(-1));
        throw;
    }
    // Linux sizes its serial queues itself and sets its own thresholds for
    // sending XOFF and XON, so ReadBufSize and WriteBufSize (and the limits
    // derived from ReadBufSize elsewhere) are kept as asked and nothing is
    // refused here.
}

void TCustomComm::CreateHandle() {
    const std::string path = CommDevicePath(m_deviceName);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailErrno("Error accessing specified device");
    }
    if (!isatty(fd)) {
        close(fd);
        Fail("Invalid device handle, access denied", kNoSystemError);
    }
    // No other process may open the line while we hold it.
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        close(fd);
        Fail("Error accessing specified device", error);
    }
    m_fd.store(fd);
}

void TCustomComm::Close() {
    // Two threads may close at once (a hang-up's close on the owner's thread,
    // the user's on another): the second waits and finds the port closed.
    std::lock_guard closing(m_closeMutex);
    if (m_fd.load() < 0) {
        return;
    }
    // Close may run on the owner's thread, which then cannot run a waiting
    // hand-over: the event thread is released from its wait instead.
    {
        std::lock_guard notify(m_notifyMutex);
        if (m_events) {
            m_events->ShutDown();
        }
        m_notifyTarget = nullptr;
    }
    std::unique_ptr<TCommEventThread> eventThread;
    {
        std::lock_guard lock(m_lock);
        eventThread = std::move(m_eventThread);
    }
    // The event thread uses the handle without the lock, so it ends first.
    eventThread.reset();
    std::lock_guard lock(m_lock);
    std::lock_guard handle(m_handleMutex);
    const int fd = m_fd.exchange(-1);
    if (fd >= 0) {
        close(fd);
    }
}

void TCustomComm::FailOnRefusedSettingLocked() {
    termios held{};
    if (tcgetattr(m_fd.load(), &held) != 0) {
        FailErrno("Error updating DataControlBlock");
    }
    if (const std::optional<std::string> refused = RefusedSetting(m_settings, held)) {
        Fail(("The port does not take " + *refused).c_str(), EINVAL);
    }
}

void TCustomComm::SetTimeoutsLocked() {
    termios t{};
    if (tcgetattr(m_fd.load(), &t) != 0) {
        FailErrno("Error updating CommTimeouts");
    }
    // A read returns at once with whatever is waiting.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(m_fd.load(), TCSANOW, &t) != 0) {
        FailErrno("Error updating CommTimeouts");
    }
}

void TCustomComm::UpdateControlBlockLocked() {
    const int fd = m_fd.load();
    if (fd < 0) {
        return;
    }
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        FailErrno("Error updating DataControlBlock");
    }
    const TControlBlockResult result = ApplyControlBlock(t, m_settings);
    if (result.Error != 0) {
        Fail("Error updating DataControlBlock", result.Error);
    }
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        FailErrno("Error updating DataControlBlock");
    }
    // Lines a device does not have (a pseudo-terminal has none) stay as they are.
    int bits = TIOCM_DTR | TIOCM_RTS;
    if (result.Lines == TModemLineAction::DropDtrRts) {
        ioctl(fd, TIOCMBIC, &bits);
    } else if (result.Lines == TModemLineAction::RaiseDtr) {
        bits = TIOCM_DTR;
        ioctl(fd, TIOCMBIS, &bits);
    }
}

// --- TCustomComm: transfers ---

int TCustomComm::ReadPortLocked(std::uint8_t* buffer, int count) {
    const int fd = m_fd.load();
    if (fd < 0) {
        Fail("Read error", EBADF);
    }
    if (count <= 0) {
        return 0;
    }
    ssize_t got;
    do {
        got = read(fd, buffer, static_cast<std::size_t>(count));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        FailErrno("Read error");
    }
    if (got > 0 && m_eventThread) {
        m_eventThread->NotifyRead();
        std::uint8_t* const end = buffer + got;
        if (std::find(buffer, end, m_settings.EvtChar) != end) {
            m_eventThread->NotifyRxFlag();
        }
    }
    if (m_settings.Options.Contains(TCommOption::coNullStrip)) {
        got = std::remove(buffer, buffer + got, std::uint8_t{0}) - buffer;
    }
    return static_cast<int>(got);
}

bool TCustomComm::LockForTransfer(TTransferLock& lock, int timeoutMs) {
    if (timeoutMs <= 0) {
        return lock.try_lock();
    }
    return lock.try_lock_for(std::chrono::milliseconds(timeoutMs));
}

void TCustomComm::ReportReadTimedOut() {
    std::lock_guard lock(m_notifyMutex);
    if (m_notifyTarget != nullptr) {
        m_notifyTarget->NotifyReadTimedOut();
    }
}

int TCustomComm::Read(std::uint8_t* buffer, int count) {
    if (!Enabled()) {
        Fail("Read error", EBADF);
    }
    // A read itself completes at once (the port never makes it wait for
    // data); what can keep it from completing in time is another transfer
    // holding the port, such as a write waiting for room in the output queue.
    TTransferLock lock(m_lock, std::defer_lock);
    if (!LockForTransfer(lock, m_readTimeout.load())) {
        ReportReadTimedOut();
        return -1;
    }
    return ReadPortLocked(buffer, count);
}

int TCustomComm::Write(const std::uint8_t* buffer, int count) {
    return Write(buffer, count, m_writeTimeout.load());
}

int TCustomComm::Write(const std::uint8_t* buffer, int count, int portWaitMs) {
    if (!Enabled()) {
        Fail("Write error", EBADF);
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_writeTimeout.load());
    TTransferLock lock(m_lock, std::defer_lock);
    if (!LockForTransfer(lock, portWaitMs)) {
        return -1;
    }
    const int fd = m_fd.load();
    if (fd < 0) {
        Fail("Write error", EBADF);
    }
    int written = 0;
    while (written < count) {
        const ssize_t sent = write(fd, buffer + written, static_cast<std::size_t>(count - written));
        if (sent > 0) {
            written += static_cast<int>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            FailErrno("Write error");
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    if (written > 0 && m_eventThread) {
        m_eventThread->NotifyWrite();
    }
    if (written == 0 && count > 0) {
        return -1;
    }
    return written;
}

int TCustomComm::DriverInQueCountLocked() const {
    const int fd = m_fd.load();
    if (fd < 0) {
        return -1;
    }
    return std::max(telvora::BytesWaiting(fd), 0);
}

int TCustomComm::DriverInQueCount() const {
    std::lock_guard handle(m_handleMutex);
    return DriverInQueCountLocked();
}

int TCustomComm::InQueCount() {
    return DriverInQueCount();
}

void TCustomComm::PurgeIn() {
    std::lock_guard lock(m_lock);
    if (m_fd.load() >= 0) {
        tcflush(m_fd.load(), TCIFLUSH);
    }
}

void TCustomComm::PurgeOut() {
    std::lock_guard lock(m_lock);
    if (m_fd.load() >= 0) {
        tcflush(m_fd.load(), TCOFLUSH);
    }
}

// --- TCustomComm: properties ---

template <typename T> void TCustomComm::SetSetting(T& field, T value) {
    std::lock_guard lock(m_lock);
    if (field == value) {
        return;
    }
    field = value;
    UpdateControlBlockLocked();
}

template <typename T> void TCustomComm::SetClosedOnly(T& field, T value) {
    std::lock_guard lock(m_lock);
    if (field == value) {
        return;
    }
    if (m_fd.load() >= 0) {
        Fail("Port already assigned (open)", kNoSystemError);
    }
    field = value;
}

std::string TCustomComm::DeviceName() const {
    std::lock_guard lock(m_lock);
    return m_deviceName;
}
void TCustomComm::SetDeviceName(const std::string& value) {
    SetClosedOnly(m_deviceName, value);
}
int TCustomComm::ReadBufSize() const {
    std::lock_guard lock(m_lock);
    return m_readBufSize;
}
void TCustomComm::SetReadBufSize(int value) {
    SetClosedOnly(m_readBufSize, value);
}
int TCustomComm::WriteBufSize() const {
    std::lock_guard lock(m_lock);
    return m_writeBufSize;
}
void TCustomComm::SetWriteBufSize(int value) {
    SetClosedOnly(m_writeBufSize, value);
}
TCommEventTypes TCustomComm::MonitorEvents() const {
    std::lock_guard lock(m_lock);
    return m_monitorEvents;
}
void TCustomComm::SetMonitorEvents(TCommEventTypes value) {
    SetClosedOnly(m_monitorEvents, value);
}
bool TCustomComm::SetDtr(bool on) {
    std::lock_guard lock(m_lock);
    const int fd = m_fd.load();
    int bits = TIOCM_DTR;
    return fd >= 0 && ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

bool TCustomComm::CarrierDetected() const {
    std::lock_guard lock(m_lock);
    const int fd = m_fd.load();
    if (fd < 0) {
        return true;
    }
    const TLineSnapshot lines = ReadLineSnapshot(fd);
    return !lines.HasLines || (lines.Lines & TIOCM_CAR) != 0;
}

void TCustomComm::SetLineSettings(const TLineSettings& settings) {
    std::lock_guard lock(m_lock);
    m_settings.BaudRate = settings.BaudRate;
    m_settings.Parity = settings.Parity;
    m_settings.Stopbits = settings.Stopbits;
    m_settings.Databits = settings.Databits;
    m_settings.FlowControl = settings.FlowControl;
    m_settings.ExclusiveFlowControl = settings.ExclusiveFlowControl;
    UpdateControlBlockLocked();
}

TBaudrate TCustomComm::BaudRate() const {
    std::lock_guard lock(m_lock);
    return m_settings.BaudRate;
}
void TCustomComm::SetBaudRate(TBaudrate value) {
    SetSetting(m_settings.BaudRate, value);
}
TParity TCustomComm::Parity() const {
    std::lock_guard lock(m_lock);
    return m_settings.Parity;
}
void TCustomComm::SetParity(TParity value) {
    SetSetting(m_settings.Parity, value);
}
TStopbits TCustomComm::Stopbits() const {
    std::lock_guard lock(m_lock);
    return m_settings.Stopbits;
}
void TCustomComm::SetStopbits(TStopbits value) {
    SetSetting(m_settings.Stopbits, value);
}
TDatabits TCustomComm::Databits() const {
    std::lock_guard lock(m_lock);
    return m_settings.Databits;
}
void TCustomComm::SetDatabits(TDatabits value) {
    SetSetting(m_settings.Databits, value);
}
TCommOptions TCustomComm::Options() const {
    std::lock_guard lock(m_lock);
    return m_settings.Options;
}
void TCustomComm::SetOptions(TCommOptions value) {
    SetSetting(m_settings.Options, value);
}
TFlowControl TCustomComm::FlowControl() const {
    std::lock_guard lock(m_lock);
    return m_settings.FlowControl;
}
void TCustomComm::SetFlowControl(TFlowControl value) {
    SetSetting(m_settings.FlowControl, value);
}
