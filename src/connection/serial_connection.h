#pragma once

#include "connection/live_connection.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TExtendedComm;

namespace telvora {

// A serial line (a modem, or a cable to another machine) at 19200 baud, 8
// data bits, no parity, one stop bit, no flow control, whatever the Speed
// menu says: the Speed menu only paces what is shown. The port component
// is made on the user-interface thread, so its events and the reads into
// the FIFO run there; the connection's thread opens and closes the port and
// delivers.
//
// Only what fits in the FIFO is read; the rest waits in the driver's queue
// until the FIFO has drained. A line that hangs up (the other end went away)
// ends the connection after what was received has been shown.
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

    // Create on the user-interface thread; Start() opens the port.
    TSerialConnection(std::string portName, int speed, std::shared_ptr<TScreenSink> screen);
    ~TSerialConnection() override;

    Kind ConnectionKind() const override { return Kind::Serial; }
    void SendByte(std::uint8_t code) override;
    void SendTransferBytes(const std::uint8_t* bytes, int count) override;
    bool LineUp() const override;

    const std::string& PortName() const { return m_portName; }
    // The port component, for a transfer's replies. User-interface thread.
    TExtendedComm& CommPort() { return *m_commPort; }

protected:
    void Open() override;
    void Close() override;
    std::optional<TLineEnd> EndOfLine() override;
    void RoomMade() override;
    void DeliverLeftovers() override;

private:
    // Handlers of the port's events (user-interface thread).
    void RxChar(int count);
    void CommFailure(const std::string& text);
    void KeepWhatIsWaiting();

    // At most this much is kept from a line that hangs up with bytes unread.
    static constexpr std::size_t kMaxLeftovers = 1u << 20;

    const std::string m_portName;
    const std::unique_ptr<TExtendedComm> m_commPort;
    // Bytes were left in the port for want of room.
    std::atomic<bool> m_heldBack{false};
    std::atomic<bool> m_lineLost{false};
    std::mutex m_mutex;
    // Guarded by m_mutex:
    std::string m_lostText;
    std::vector<std::uint8_t> m_leftovers;
};

} // namespace telvora
