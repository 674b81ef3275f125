#pragma once

#include "transfer/transfer_port.h"
#include "transfer/zmodem/zmodem_decoder.h"
#include "transfer/zmodem/zmodem_encoder.h"
#include "transfer/zmodem/zmodem_files.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace telvora {

// The sending side of ZMODEM, for a receiver such as lrzsz's rz.
//
// Start sends "rz\r" (which starts the receiver on most systems) and a
// ZRQINIT, and waits for ZRINIT: CRC-32 when the receiver can check it,
// every control character escaped when it asks. Each file is offered with
// ZFILE (its last name component, length, date in octal, mode 0, the files
// and bytes still to come); ZRPOS n sends it from n, ZSKIP goes on with the
// next. Data goes in ZDATA frames of subpackets, 1024 bytes at first and up
// to 8192 after clean runs when the receiver streams and checks CRC-32,
// halved on every ZRPOS that takes us back. A streaming receiver (buffer
// size 0) gets ZCRCG subpackets with a ZCRCQ every kAckInterval bytes, and
// at most kStreamWindow bytes are out without its ZACK, so a slow line never
// holds more than that, nor does a ZRPOS waste more. A receiver with a buffer
// gets a ZCRCW whenever its buffer would be full, and the next frame after
// its ZACK. A file ends with ZEOF; the batch with ZFIN, answered by ZFIN,
// and our "OO". Ten quiet seconds resend the last header (for data: from the
// last acknowledged position), kMaxTries times in a row at most. The ZFIN
// alone is sent kFinTries times a second apart and then given up, as lrzsz's
// sz soon gives it up: every file was answered, so the batch ends as it went.
//
// Sending in bursts: file data goes out only from Pump(), at most a burst
// at a time, and every operation holds the sender's lock only for its own
// run, so a ZRPOS or a cancel that arrives between two bursts is acted on
// before the next. The window calls TimeoutTimer() on the tick the sender
// arms (kTickMs while it runs), which pumps one burst of kBurstBytes; when
// it knows the line has room it may call Pump() itself as often as
// WantsToSend() says there is more. Headers and replies go out from
// ReceiveChunk() at once, and the first burst of a frame with them.
//
// Threads: replies come from a connection thread, the ticks, pumps and the
// cancel from the user-interface thread. The port is called with the lock
// held and must not call back.
class TZmodemSender {
public:
    enum class State {
        Stopped,
        WaitInit,
        WaitFilePosition,
        Streaming,
        WaitAck,
        WaitEofAck,
        WaitFin
    };

    static constexpr int kTickMs = 20;
    static constexpr int kTimeoutMs = 10000;
    static constexpr int kTimeoutTicks = kTimeoutMs / kTickMs;
    static constexpr int kMaxTries = 10;
    static constexpr int kFinTimeoutTicks = 1000 / kTickMs;
    static constexpr int kFinTries = 3;
    // File data a tick sends at most.
    static constexpr std::size_t kBurstBytes = 8192;
    static constexpr std::size_t kStartSubpacket = 1024;
    static constexpr std::size_t kLargestSubpacket = 8192;
    static constexpr std::size_t kSmallestSubpacket = 256;
    // Error-free data after which the subpacket size doubles.
    static constexpr std::size_t kCleanRunToGrow = 64 * 1024;
    static constexpr std::size_t kAckInterval = 16 * 1024;
    static constexpr std::size_t kStreamWindow = 128 * 1024;
    // A ZRINIT this soon after our ZFILE answers our ZRQINIT, which reached
    // the receiver after it had started by itself; a ZFILE sent again for
    // it would draw a second ZRPOS.
    static constexpr int kEchoGraceTicks = 2000 / kTickMs;

    TZmodemSender(TTransferPort& port, TZmodemSource& files);
    TZmodemSender(const TZmodemSender&) = delete;
    TZmodemSender& operator=(const TZmodemSender&) = delete;

    // Every file is opened first: one that cannot be read, or is 4 GiB or
    // larger, raises ETransferFileError with nothing sent.
    void Start(const std::vector<std::string>& paths);
    // Returns how many bytes it took: once the transfer has ended, what
    // follows is not its own (the board's text after the transfer).
    std::size_t ReceiveChunk(const std::uint8_t* data, std::size_t count);
    // Counts quiet time and pumps one burst.
    void TimeoutTimer();
    // Sends up to about `budget` bytes of file data (whole subpackets) when
    // data is due; returns whether more is ready to go at once.
    bool Pump(std::size_t budget = kBurstBytes);
    bool WantsToSend() const;
    // Eight CANs and ten backspaces; the receiver gives up.
    void UserCancel();
    void TransportLost();
    // Nothing has come from the receiver for too long: the cancel as for the
    // user's, and the transfer ends timed out (status::kTimedOut); waiting
    // for the answer to our ZFIN, it ends as the batch went.
    void LineSilent();

    State SendState() const;
    bool Running() const;
    TTransferProgress Progress() const;
    int TimerInterval() const;
    std::size_t SubpacketSize() const;

    // A ZFILE subpacket: name NUL "LENGTH MTIME(octal) 0 0 FILESLEFT BYTESLEFT" NUL.
    static std::vector<std::uint8_t> FileOffer(const std::string& path,
                                               const TZmodemSource::TInfo& info, int filesLeft,
                                               std::uint64_t bytesLeft);

private:
    void Feed(std::uint8_t byte);
    void OnHeader(const TZmodemEvent& event);
    void OnReceiverReady(const zmodem::THeaderBytes& bytes);
    void OnSkip();
    void OnPosition(std::uint32_t position);
    void OnAck(std::uint32_t position);
    void OfferNextFile();
    void OfferFile();
    void FileDone(const std::string& status);
    void SendDataHeader();
    void SendResync();
    void MoveTo(std::uint64_t position);
    void SendEof();
    void SendFin();
    void SendRqInit();
    // Sends the header the state waits an answer for once more.
    void Repeat();
    bool PumpLocked(std::size_t budget);
    zmodem::TSubpacketEnd NextEnd(std::size_t count) const;
    bool WindowOpen() const;
    std::size_t WindowLimit() const;

    void Send(const std::vector<std::uint8_t>& bytes);
    void ShowProgress();
    void Status(const std::string& status);
    void End(TTransferOutcome outcome, const std::string& status);
    void Abort(TTransferOutcome outcome, const std::string& status);
    // Complete only when the receiver took every file.
    void EndBatch();

    TTransferPort& m_port;
    TZmodemSource& m_files;
    mutable std::mutex m_mutex;

    State m_state = State::Stopped;
    TZmodemDecoder m_decoder;
    TZmodemEncoder m_encoder;
    std::vector<std::string> m_paths;
    std::vector<TZmodemSource::TInfo> m_infos;
    std::size_t m_fileIndex = 0;
    int m_skipped = 0; // files the receiver answered with ZSKIP
    // ZFILEs sent for the file on offer, and answers still to come for
    // offers of files already done: a ZSKIP among those is no answer to
    // the file on offer now.
    int m_offers = 0;
    int m_staleAnswers = 0;
    bool m_crc32 = false;
    std::size_t m_receiverBuffer = 0; // 0: the receiver takes a stream
    std::size_t m_subpacket = kStartSubpacket;
    std::size_t m_cleanRun = 0;
    std::uint64_t m_sendPos = 0;
    std::uint64_t m_ackedPos = 0;
    std::uint64_t m_nextAckAt = 0; // where the next ZCRCQ goes
    // The furthest the receiver has said it has: a ZRPOS before it is stale.
    std::uint64_t m_confirmedPos = 0;
    // After a ZRPOS: waiting for the ZACK of an empty frame at m_resyncPos.
    bool m_resyncing = false;
    std::uint64_t m_resyncPos = 0;
    int m_offerTicks = 0;
    std::uint64_t m_size = 0;
    bool m_frameOpen = false;
    int m_quietTicks = 0;
    int m_tries = 0;
    // Since the first ZFIN: a receiver's chatter does not keep the batch open.
    int m_finTicks = 0;
    bool m_transportLost = false;
    int m_timerInterval = 0;
    std::vector<std::uint8_t> m_chunk;
    TTransferProgress m_progress;
};

} // namespace telvora
