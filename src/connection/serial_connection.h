#pragma once

#include "connection/live_connection.h"
#include "connection/serial/command_mode.h"
#include "connection/serial/hayes_dialer.h"
#include "connection/serial/modem_response.h"
#include "connection/serial/serial_settings.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TExtendedComm;

namespace telvora {

// A serial line (a modem, or a cable to another machine) with the line
// settings the user chose (19200 8N1 without flow control unless told
// otherwise), whatever the Speed menu says: the Speed menu only paces what
// is shown. The port component is made on the user-interface thread, so its
// events and the reads into the FIFO run there; the connection's thread
// opens and closes the port and delivers.
//
// Only what fits in the FIFO is read; the rest waits in the driver's queue
// until the FIFO has drained. A line that hangs up (the other end went away)
// ends the connection after what was received has been shown.
//
// With a modem's settings the line dials once the port is open, speaking
// ASCII to the modem (its answers shown readably) until it connects, and the
// line is up only then. A call ends with the modem's NO CARRIER (or the loss
// of the carrier, where the port reports it) as a remote close does, and is
// hung up when the connection is stopped.
class TSerialConnection : public TLiveConnection {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kPollPeriod{10};
    static constexpr int kBufferSize = 10000;
    // A transfer's bytes wait this long for room in the driver's output
    // queue, looking again every kRoomPollMs, before the line counts as stuck
    // and the rest is dropped.
    static constexpr qint64 kStuckMs = 10000;
    static constexpr int kRoomPollMs = 20;
    // How long a typed key waits for a port busy with another transfer.
    static constexpr int kKeyWaitMs = 100;

    // The modem's guard time around "+++", and how long DTR is dropped.
    static constexpr std::chrono::milliseconds kGuardTime{1000};
    static constexpr std::chrono::milliseconds kDtrDropTime{1000};
    // The longest wait for the modem's answer to the hang-up command.
    static constexpr std::chrono::milliseconds kHangUpAnswerTime{1000};

    // Create on the user-interface thread; Start() opens the port.
    TSerialConnection(std::string portName, const TSerialSettings& settings, int speed,
                      std::shared_ptr<TScreenSink> screen);
    ~TSerialConnection() override;

    Kind ConnectionKind() const override { return Kind::Serial; }
    void SendByte(std::uint8_t code) override;
    void SendTransferBytes(const std::uint8_t* bytes, int count) override;
    bool LineUp() const override;

    const std::string& PortName() const { return m_portName; }
    QString LineSettingsText() const override;
    // Before Start: the line dials with these settings once the port is open.
    void SetModem(const TModemSettings& modem);
    // Any thread: keys go to the modem as ASCII and its answers show as
    // lines (on while dialing; the user's on a plain line). A CONNECT ends it.
    void SetCommandMode(bool on) { m_commandMode = on; }
    bool CommandMode() const { return m_commandMode.load(); }
    // The port component, for a transfer's replies. User-interface thread.
    TExtendedComm& CommPort() { return *m_commPort; }

protected:
    void Open() override;
    void Close() override;
    std::optional<TLineEnd> EndOfLine() override;
    void RoomMade() override;
    void DeliverLeftovers() override;
    int TakenByConnection(const std::uint8_t* block, int count) override;

private:
    // Handlers of the port's events (user-interface thread).
    void RxChar(int count);
    void CommFailure(const std::string& text);
    void KeepWhatIsWaiting();
    // Connection thread: the modem's side of the line.
    void Heard(const TModemResponse& response);
    void GoOnline(const std::string& connectText);
    void SendModemOutput();
    void SendText(const std::string& text);
    void WatchForNoCarrier(const std::uint8_t* block, int count);
    std::optional<TLineEnd> CallEnd();
    bool NeedsHangUp() const;
    void HangUp();
    void WaitUntilSent();
    void CarrierChanged();

    // At most this much is kept from a line that hangs up with bytes unread.
    static constexpr std::size_t kMaxLeftovers = 1u << 20;

    const std::string m_portName;
    const TSerialSettings m_settings;
    const std::unique_ptr<TExtendedComm> m_commPort;
    // Set before Start and only read after it (also by LineUp).
    std::optional<TModemSettings> m_modem;
    // The connection thread's own.
    std::unique_ptr<THayesDialer> m_dialer;
    TModemResponseReader m_reader;
    TCommandModeText m_commandText;
    std::atomic<bool> m_commandMode{false};
    // The port is open with all its settings (the descriptor exists earlier).
    std::atomic<bool> m_portReady{false};
    // A call is up (CONNECT heard), and has ended by the modem's word or carrier.
    std::atomic<bool> m_callUp{false};
    std::atomic<bool> m_callEnded{false};
    // Bytes were left in the port for want of room.
    std::atomic<bool> m_heldBack{false};
    std::atomic<bool> m_lineLost{false};
    std::mutex m_mutex;
    // Guarded by m_mutex:
    std::string m_lostText;
    std::vector<std::uint8_t> m_leftovers;
};

} // namespace telvora
