#pragma once

#include "transfer/batch_file_name.h"
#include "transfer/block_codes.h"
#include "transfer/receiver_files.h"
#include "transfer/transfer_port.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace telvora {

// The receiving side of X-Modem CRC, X-Modem 1k, Y-Modem batch and F-Modem
// batch: a byte-driven state machine. Blocks of 128 (SOH), 1024 (STX) or 4096
// ('F') data bytes with a CRC-16, in one file or, in batch mode, in files
// named by block-0 headers inside a folder.
//
// Every operation takes the receiver's lock for its whole run: bytes come
// from a connection thread, the ticks and the cancel from the user-interface
// thread. The port is called with the lock held and must not call back.
//
// Beyond the bare protocol: a repeat of the block just accepted (the sender
// missed our ACK) is acknowledged and not written again, a repeated batch
// header likewise; any other block out of sequence ends the transfer with
// three CANs, the file kept as far as received. A batch header that gives the
// file's length has the finished file cut to exactly that length instead of
// losing trailing 0x1A and 0x0B bytes to the fill removal. A file that comes
// shorter than announced, or longer by more than its last block's fill can
// explain, is kept as it came (fill removed), and the batch goes on but ends
// as a protocol error naming it. An EOT while no file is open is
// acknowledged and otherwise ignored. A file that cannot be written, or is
// no longer there once closed (its folder removed), ends the transfer the
// same way, saying why.
//
// A streaming batch (Y-Modem-G) asks with 'G' instead of 'C', and the sender
// then sends a file's blocks without waiting for any ACK; only a header and
// an EOT are acknowledged. Its sender never sends a block twice, so once the
// first header is in, any damage, a block out of sequence, a stall inside a
// file or a file that cannot be written cancels the batch at once (the file
// kept as far as received) instead of asking again.
class TBlockReceiver : public TBlockCodes {
public:
    enum class State {
        Stopped,
        WaitHeader,
        BlockNumber,
        BlockComplement,
        Data,
        CrcHigh,
        CrcLow,
        CancelPending
    };

    static constexpr int kFirstTickMs = 1000;
    static constexpr int kCancelDelayMs = 250;
    // After a spoiled block the answer waits until the line has been quiet
    // this long: longer than the gap between two bytes at 300 bps.
    static constexpr int kQuietMs = 250;
    // Every timeout is worked out for this nominal line speed.
    static constexpr int kNominalSpeed = 19200;
    static constexpr std::size_t kMaxBlockSize = 4096;

    TBlockReceiver(TTransferPort& port, TReceiverFiles& files);
    TBlockReceiver(const TBlockReceiver&) = delete;
    TBlockReceiver& operator=(const TBlockReceiver&) = delete;

    // Receive into one file (created empty now; raises ETransferFileError
    // when it cannot be, with nothing started).
    void StartSingle(const std::string& path);
    // Receive the files a batch sender names into the folder (made when
    // missing; raises ETransferFileError when it cannot be, with nothing
    // started); streaming: by Y-Modem-G.
    void StartBatch(const std::string& folder, bool streaming = false);
    void ReceiveChunk(const std::uint8_t* data, std::size_t count);
    void TimeoutTimer();
    // The user's cancel: three CANs follow 250 ms later.
    void UserCancel();
    // The line has gone while a transfer ran: nothing more is sent.
    void TransportLost();
    // Nothing has come from the other side for too long: three CANs follow
    // 250 ms later, as for the user's cancel, and the transfer ends timed out
    // ("Timed out"), the file kept as far as received. A streaming batch
    // between whole files ends as a lost line would end it there.
    void LineSilent();

    State RxState() const;
    bool Running() const;
    TTransferProgress Progress() const;
    // The interval the timer was last armed with (0 when disabled), for tests.
    int TimerInterval() const;
    // ((size div (speed div 8)) + 2) x 1000 ms in 16-bit unsigned arithmetic.
    static int TimeoutFor(int size, int speed);

private:
    void ReceiveByte(std::uint8_t byte);
    void WaitHeaderByte(std::uint8_t byte);
    void ComplementByte(std::uint8_t byte);
    void BlockComplete();
    void AcceptHeader();
    void AcceptData();
    void EndOfFile();
    // The batch's good ending, unless a file arrived at another length than
    // announced.
    void EndBatch();
    // A streaming batch whose every file arrived whole, waiting for a header
    // its sender may never send.
    bool StreamBetweenFiles() const;
    void Start(bool batch, bool streaming);
    // 'G' in a streaming batch, 'C' otherwise.
    std::uint8_t Request() const;
    // A streaming batch whose first header is in: its sender no longer
    // listens for a request to resend.
    bool Unforgiving() const;

    void Reply(std::uint8_t byte);
    // Drops what follows until the line is quiet, then sends the reply once.
    void AnswerWhenQuiet(std::uint8_t reply);
    void RestartTimeout(int size);
    void Arm(int intervalMs);
    void Disarm();
    void ResetProgress();
    void ShowProgress();
    // An ending: the status, the button, the alert, the bytes back to the screen.
    void End(TTransferOutcome outcome, const std::string& status, State next);
    // Ends with three CANs 250 ms later; the file is kept as it is.
    void Abort(TTransferOutcome outcome, const std::string& status);
    // Abort for a failure of the protocol or of a file; a streaming batch
    // adds that it cannot recover.
    void Fail(TTransferOutcome outcome, const std::string& what);
    bool IsRepeatOfLastBlock() const;
    // The decimal length after the name's NUL in a header, when it is one.
    std::optional<std::uint64_t> AnnouncedLength(std::size_t nameLength) const;

    TTransferPort& m_port;
    TReceiverFiles& m_files;
    mutable std::mutex m_mutex;

    State m_state = State::Stopped;
    std::uint8_t m_expectedBlock = 1;
    std::uint8_t m_crcHigh = 0;
    std::size_t m_dataCount = 0;
    std::uint8_t m_blockNumber = 0;
    std::uint8_t m_blockComplement = 0;
    std::size_t m_blockSize = 128;
    // The size of the last block written: the most fill the file can hold.
    std::size_t m_lastBlockSize = 0;
    bool m_awaitingHeader = false;
    bool m_batchMode = false;
    bool m_streaming = false;
    int m_cancelCount = 0;
    // A block of the current file (or its header) has been accepted.
    bool m_accepted = false;
    bool m_transportLost = false;
    // Set while the answer to a spoiled block waits for a quiet line.
    std::optional<std::uint8_t> m_pendingReply;
    int m_timerInterval = 0;
    int m_filesNamed = 0;
    std::string m_downloadFolder;
    // The length the current batch file's header announced, when it did.
    std::optional<std::uint64_t> m_announcedLength;
    TLengthMismatches m_mismatches;
    TTransferProgress m_progress;
    std::array<std::uint8_t, kMaxBlockSize> m_block{};
};

} // namespace telvora
