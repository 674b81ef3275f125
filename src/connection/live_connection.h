#pragma once

#include "connection/big_fifo.h"
#include "connection/byte_sender.h"
#include "connection/capture_file.h"
#include "connection/chunk_sink.h"
#include "connection/connection_thread.h"
#include "connection/pacer.h"
#include "connection/screen_sink.h"
#include "connection/transfer_line.h"
#include "connection/transfer_start_watch.h"
#include "connection/wake_up.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace telvora {

// What the Telnet and the serial connection have in common: received bytes
// are put into a FIFO on the user-interface thread, and the connection's
// thread takes the whole backlog at once and paces it onto the screen at the
// selected line speed, or hands it whole to a running file transfer.
//
// The thread waits at most its poll period but wakes as soon as bytes
// arrive, so an echoed key shows at once.
class TLiveConnection : public TConnectionThread, public TByteSender, public TTransferLine {
    Q_OBJECT

public:
    // The local buffer of one delivery: the FIFO's capacity, so that one
    // take always empties it.
    static constexpr int kBlockSize = TBigFIFO::kCapacity;

    // Create on the user-interface thread.
    TLiveConnection(int speed, std::shared_ptr<TScreenSink> screen,
                    std::chrono::milliseconds pollPeriod);

    QString StatusText() const override;
    void SetSpeed(int speed) override;

    // User-interface thread. While on, every block taken goes whole to the
    // receiver instead of the screen (without one, to the screen as before).
    virtual void SetTransferMode(bool on, bool rawFilter,
                                 std::shared_ptr<TChunkSink> receiver = nullptr);
    bool InTransfer() const { return m_inTransfer.load(); }
    // User-interface thread: what watches the screen's bytes for a transfer
    // the other side starts (none: nothing is watched). Once it has found
    // one, the line's bytes are held, not shown, until a transfer takes the
    // line (SetTransferMode on, which gets them first) or DeclineHeld gives
    // them to the screen.
    void SetStartWatch(std::shared_ptr<TTransferStartWatch> watch);
    // User-interface thread: a transfer is about to take the line; what
    // arrives is held for it from now on, as after a start the watch found.
    void Hold();
    // The held bytes go to the screen: no transfer takes them.
    void DeclineHeld();
    // Whether bytes are held for a transfer about to start.
    bool Holding() const { return m_holding.load(); }
    // Before Start: where the bytes shown on the screen are also written
    // while it is open (a transfer's bytes are not). A failed write stops
    // the recording, and the connection tells why and goes on.
    void SetRecording(std::shared_ptr<TCaptureFile> recording) {
        m_recording = std::move(recording);
    }
    // A file transfer's bytes (a download's replies, an upload's blocks),
    // from any thread, unpaced; dropped when the line cannot take them.
    void SendTransferBytes(const std::uint8_t* bytes, int count) override = 0;
    // Whether the line is up (the socket connected, the port open).
    virtual bool LineUp() const = 0;

protected:
    void run() final;

    // The connection's own steps, on its thread. Open makes the connection
    // and raises what the user is told when it cannot be made; Close ends
    // it. EndOfLine says, after each round, whether the line has ended by
    // itself (with what to tell the user); MayDeliver whether bytes taken
    // now may go on.
    struct TLineEnd {
        QString message;
        Outcome outcome = Outcome::Normal;
    };
    virtual void Open() = 0;
    virtual void Close() {}
    virtual std::optional<TLineEnd> EndOfLine() = 0;
    virtual bool MayDeliver() const { return true; }
    // After each round and after each take from the FIFO: room has been made.
    virtual void RoomMade() {}
    // A block as taken from the FIFO, before it is delivered.
    virtual void BlockTaken(const std::uint8_t* /*block*/, int /*count*/) {}
    // While the FIFO is empty: bytes the connection kept aside (the serial
    // line's last bytes after a hang-up) are delivered with Deliver.
    virtual void DeliverLeftovers() {}
    // Delivers a block to the receiver or the screen, as if taken from the FIFO.
    void Deliver(const std::uint8_t* block, int count);
    // A block on its way, before a transfer or the screen sees it: how many
    // of its first bytes the connection keeps for itself (what a modem in
    // command mode says); the rest is delivered.
    virtual int TakenByConnection(const std::uint8_t* /*block*/, int /*count*/) { return 0; }
    // Bytes for the screen alone, paced and recorded as any.
    void ShowOnScreen(const std::uint8_t* bytes, int count) { DeliverToScreen(bytes, count, true); }

    // User-interface thread: stores received bytes and wakes the thread.
    void Received(const std::uint8_t* data, int count);
    int FifoCount() const { return m_fifo.Count(); }
    int FifoRoom() const { return TBigFIFO::kCapacity - m_fifo.Count(); }
    void SetStatusText(const QString& text);
    // Any thread: the connection's thread looks at once instead of at the end of its period.
    void WakeThread() { m_wake.Notify(); }
    void StopRequestedHook() override;

private:
    void DeliverBlock();
    // After a transfer's end, what it did not take is shown without asking
    // it again.
    void DeliverToScreen(const std::uint8_t* block, int count, bool transferEnded = false);
    void HandToTransfer(TChunkSink& receiver, const std::uint8_t* block, int count);
    // Bytes bound for the screen pass the start watch first.
    void DeliverWatched(const std::uint8_t* block, int count);
    // Connection thread: the held bytes go to the transfer that took the
    // line (receiver, as the caller last saw it), or to the screen when the
    // start was declined.
    void PassHeld(const std::shared_ptr<TChunkSink>& receiver);
    void Record(const std::uint8_t* bytes, int count);
    // The receiver while a transfer runs and one was given, else null.
    std::shared_ptr<TChunkSink> TransferReceiver() const;

    const std::shared_ptr<TScreenSink> m_screen;
    const std::chrono::milliseconds m_pollPeriod;
    std::shared_ptr<TCaptureFile> m_recording;
    TBigFIFO m_fifo;
    TWakeUp m_wake;
    // Used by the connection thread only.
    std::vector<std::uint8_t> m_block;
    TPacer m_pacer;
    std::atomic<bool> m_speedChanged{false};
    std::atomic<bool> m_inTransfer{false};
    // Set by the connection thread when a start is found; cleared by it once
    // the held bytes have gone on.
    std::atomic<bool> m_holding{false};
    std::atomic<bool> m_declined{false};
    // Counts the holds asked for by the user-interface thread.
    std::atomic<unsigned> m_holds{0};
    // Connection thread only: the bytes held since the start.
    std::vector<std::uint8_t> m_held;

    mutable std::mutex m_mutex;
    // Guarded by m_mutex:
    QString m_statusText;
    std::shared_ptr<TChunkSink> m_receiver;
    std::shared_ptr<TTransferStartWatch> m_watch;
};

} // namespace telvora
