#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <QObject>

#include "common/hand_over.h"
#include "connection/serial/comm_error.h"
#include "connection/serial/comm_types.h"
#include "connection/serial/control_block.h"
#include "connection/serial/line_state.h"
#include "connection/serial/port_lock.h"

class TCommEventThread;
class TCustomComm;

// The special characters of a port. Setting one stores it in the owner's line
// settings and applies them at once when the port is open.
class TCommEventChars {
public:
    explicit TCommEventChars(TCustomComm& owner) : m_owner(owner) {}
    TCommEventChars(const TCommEventChars&) = delete;

    std::uint8_t XonChar() const;
    std::uint8_t XoffChar() const;
    std::uint8_t ErrorChar() const;
    std::uint8_t EofChar() const;
    std::uint8_t EvtChar() const;
    void SetXonChar(std::uint8_t value);
    void SetXoffChar(std::uint8_t value);
    void SetErrorChar(std::uint8_t value);
    void SetEofChar(std::uint8_t value);
    void SetEvtChar(std::uint8_t value);
    // Copies the five characters of another port.
    TCommEventChars& operator=(const TCommEventChars& other);

private:
    TCustomComm& m_owner;
};

// A serial port over termios: line settings as properties, reads and writes
// that never leave a transfer behind, and port events raised on the thread
// that owns the component (its event thread hands each one over and waits).
//
// evRxFlag is raised when a read takes the event character (EvtChar) from the
// port, in an event of its own after the one that reported the bytes: termios
// cannot tell that the character has arrived without reading the data, and the
// bytes belong to the reader.
//
// Read, Write, the purges and the line settings may be used from any thread;
// Open and Close from one thread at a time. Events run on the owner's thread.
class TCustomComm : public QObject {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TCustomComm& sender)>;
    using TErrorEvent = std::function<void(TCustomComm& sender, std::uint32_t errors)>;
    using TRxCharEvent = std::function<void(TCustomComm& sender, int count)>;
    // Something the owner should show: an event handler that failed, a line
    // that was hung up (the port is closed after it), a read that failed.
    using TFailureEvent = std::function<void(TCustomComm& sender, const std::string& text)>;

    static constexpr const char* kDefaultDeviceName = "Com2";
    static constexpr int kDefaultTimeoutMs = 1000;
    static constexpr int kDefaultReadBufSize = 4096;
    static constexpr int kDefaultWriteBufSize = 2048;

    explicit TCustomComm(QObject* owner = nullptr);
    ~TCustomComm() override;

    bool Enabled() const { return m_fd.load() >= 0; }
    // The open file descriptor, or -1.
    int Handle() const { return m_fd.load(); }

    // Opens the port with the line settings; an Open that fails leaves the
    // component closed, exactly as before the call.
    void Open();
    void Close();
    // Reads up to count bytes that are waiting and returns how many: 0 when
    // none wait (a read never waits for data that is not there). Returns -1
    // when the read could not be made within ReadTimeout because another
    // transfer held the port all that time; the bytes then stay in the port
    // and OnRxChar reports them again.
    virtual int Read(std::uint8_t* buffer, int count);
    // Writes count bytes, waiting with poll up to WriteTimeout (for the port
    // and for room in the driver's output queue). Returns count, or -1 when
    // nothing went out within WriteTimeout. When only part went out in time the
    // count of what went out is returned, not -1: nothing is left in flight
    // after a timeout, so -1 would hide bytes that did reach the line and a
    // caller sending again would send them twice.
    int Write(const std::uint8_t* buffer, int count);
    // The same, but waiting up to portWaitMs for a port that another transfer
    // holds, whatever WriteTimeout says (room is still waited for only that long).
    int Write(const std::uint8_t* buffer, int count, int portWaitMs);
    // Bytes waiting to be read, or -1 when closed.
    virtual int InQueCount();
    // Raises or drops DTR; false where the port has no modem lines (a
    // pseudo-terminal) or is closed, which callers take quietly.
    bool SetDtr(bool on);
    // Whether the carrier (DCD) is present; true where the port cannot tell.
    bool CarrierDetected() const;
    // Sets every line setting at once (applied at once when open).
    void SetLineSettings(const TLineSettings& settings);
    // Any thread: the bytes still waiting in the port are reported again by
    // OnRxChar although no more arrived (for a reader that left some there
    // because it had no room for them).
    void ReportWaitingAgain() { ReportReadTimedOut(); }
    // Whether the line of the last Open was hung up: true from its OnFailure
    // event on (the port is closed after it) until the next Open.
    bool HungUp() const {
        const std::uint64_t hungUp = m_hungUpGeneration.load();
        return hungUp != 0 && hungUp == OpenGeneration();
    }

    virtual void CreateHandle();
    virtual void PurgeIn();
    virtual void PurgeOut();

    std::string DeviceName() const;
    void SetDeviceName(const std::string& value);
    // Longest wait of a Read for the port (see Read); 0 tries once.
    int ReadTimeout() const { return m_readTimeout.load(); }
    void SetReadTimeout(int value) { m_readTimeout.store(value); }
    int WriteTimeout() const { return m_writeTimeout.load(); }
    void SetWriteTimeout(int value) { m_writeTimeout.store(value); }
    int ReadBufSize() const;
    void SetReadBufSize(int value);
    int WriteBufSize() const;
    void SetWriteBufSize(int value);
    TCommEventTypes MonitorEvents() const;
    void SetMonitorEvents(TCommEventTypes value);
    TBaudrate BaudRate() const;
    void SetBaudRate(TBaudrate value);
    TParity Parity() const;
    void SetParity(TParity value);
    TStopbits Stopbits() const;
    void SetStopbits(TStopbits value);
    TDatabits Databits() const;
    void SetDatabits(TDatabits value);
    TCommEventChars& EventChars() { return m_eventChars; }
    TCommOptions Options() const;
    void SetOptions(TCommOptions value);
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl value);

    void SetOnBreak(TNotifyEvent handler);
    void SetOnCts(TNotifyEvent handler);
    void SetOnDsr(TNotifyEvent handler);
    void SetOnRing(TNotifyEvent handler);
    void SetOnRlsd(TNotifyEvent handler);
    void SetOnError(TErrorEvent handler);
    void SetOnRxChar(TRxCharEvent handler);
    void SetOnRxFlag(TNotifyEvent handler);
    void SetOnTxEmpty(TNotifyEvent handler);
    void SetOnFailure(TFailureEvent handler);

protected:
    // Fires OnRxChar; count is never 0.
    virtual void RxChar(int count);
    bool HasRxCharHandler() const { return m_hasRxCharHandler.load(); }

    using TTransferLock = std::unique_lock<TPortLock>;
    // Takes the port for a transfer, waiting at most timeoutMs (0 or less:
    // tries once). False when another transfer kept it busy all that time.
    static bool LockForTransfer(TTransferLock& lock, int timeoutMs);
    // Tells the event thread that a read of waiting bytes timed out, so they
    // are reported again although no more arrived.
    void ReportReadTimedOut();

    // For subclasses, with Lock() held.
    TPortLock& Lock() const { return m_lock; }
    int ReadPortLocked(std::uint8_t* buffer, int count);
    int DriverInQueCountLocked() const;
    // Bytes waiting in the driver, or -1 when closed; does not wait for a
    // transfer in progress (only Close, briefly).
    int DriverInQueCount() const;
    // Counts the Opens, so that a late step can tell whether the port it
    // belongs to is still the open one.
    std::uint64_t OpenGeneration() const { return m_openGeneration.load(); }
    // Any thread: OnFailure runs with text on the owner's thread, unless the
    // port has been closed meanwhile.
    void ReportFailure(const std::string& text);

private:
    friend class TCommEventChars;
    std::mutex m_closeMutex;

    template <typename T> void SetSetting(T& field, T value);
    template <typename T> void SetClosedOnly(T& field, T value);
    void UpdateControlBlockLocked();
    void SetTimeoutsLocked();
    // Open's check that the driver holds every line setting it was given.
    void FailOnRefusedSettingLocked();
    // On the event thread: runs the events of mask on the owner's thread and waits.
    void HandOver(std::uint32_t mask);
    // On the owner's thread: the events, with a failing handler reported.
    void DeliverEvents(std::uint32_t mask);
    void HandleEvents(std::uint32_t mask);
    void HangUp(std::uint64_t generation);
    void FireFailure(const std::string& text);
    template <typename Handler, typename... Args>
    void Fire(const Handler& slot, std::uint32_t mask, TCommEventType bit, Args... args);

    mutable TPortLock m_lock; // the port, its settings, Read and Write
    // Keeps the handle from being closed while the events look at the port:
    // they must not wait for m_lock, which a write held back by the peer's
    // handshake keeps for up to WriteTimeout. Taken after m_lock, never before.
    mutable std::mutex m_handleMutex;
    std::atomic<int> m_fd{-1};
    std::string m_deviceName = kDefaultDeviceName;
    std::atomic<int> m_readTimeout{kDefaultTimeoutMs};
    std::atomic<int> m_writeTimeout{kDefaultTimeoutMs};
    int m_readBufSize = kDefaultReadBufSize;
    int m_writeBufSize = kDefaultWriteBufSize;
    TCommEventTypes m_monitorEvents = kAllCommEvents;
    TLineSettings m_settings;
    TCommEventChars m_eventChars{*this};
    TLineSnapshot m_lineErrorBase; // under m_handleMutex once the port is open
    std::unique_ptr<TCommEventThread> m_eventThread;
    // The running event thread for ReportReadTimedOut, which cannot take m_lock
    // (it is what the read failed to get).
    std::mutex m_notifyMutex;
    TCommEventThread* m_notifyTarget = nullptr;

    // Carries events to the owner's thread; one per Open, shut down by Close
    // (which releases an event thread waiting in it). Under m_notifyMutex.
    std::unique_ptr<telvora::THandOver> m_events;
    std::atomic<std::uint64_t> m_openGeneration{0};
    // The Open whose line was hung up; 0 for none (Opens count from 1).
    std::atomic<std::uint64_t> m_hungUpGeneration{0};

    mutable std::mutex m_eventsMutex;
    TNotifyEvent m_onBreak, m_onCts, m_onDsr, m_onRing, m_onRlsd, m_onRxFlag, m_onTxEmpty;
    TErrorEvent m_onError;
    TRxCharEvent m_onRxChar;
    TFailureEvent m_onFailure;
    std::atomic<bool> m_hasRxCharHandler{false};
};

// The published form of the port component.
class TComm : public TCustomComm {
    Q_OBJECT

public:
    using TCustomComm::TCustomComm;
};
