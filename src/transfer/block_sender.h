#pragma once

#include "transfer/block_codes.h"
#include "transfer/send_protocol.h"
#include "transfer/sender_files.h"
#include "transfer/transfer_port.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace telvora {

// The sending side of X-Modem (CRC or checksum, 128-byte blocks), X-Modem
// 1k and Y-Modem batch: a state machine driven by the receiver's reply
// bytes and the block timer.
//
// It waits for the receiver's start ('C' for a CRC-16, NAK for the 8-bit
// checksum), sends numbered blocks with the last one filled with 0x1A,
// resends a block on NAK, 'C' or a timeout (ten tries, then three CANs and
// "Transfer Aborted."), ends a file with EOT until it is acknowledged, and
// stops at once on two CANs. Y-Modem names each file in a block 0 (name,
// NUL, decimal length, space, modification time in octal) and ends the batch
// with an empty one. Bytes that are none of the replies it waits for are
// ignored: a spoiled reply draws the timeout's resend.
//
// Every operation takes the sender's lock for its whole run: replies come
// from a connection thread, the ticks and the cancel from the user-interface
// thread. The port is called with the lock held.
class TBlockSender : public TBlockCodes {
public:
    // Pause: a short wait before the first block after a start request, or
    // before a resend after a refusal (replies meanwhile are not taken).
    enum class State { Stopped, WaitStart, Pause, WaitReply };

    static constexpr std::uint8_t kFill = 0x1A;
    static constexpr int kTries = 10;
    // The batch's closing empty header is sent this often at most.
    static constexpr int kBatchEndTries = 2;
    // How long the receiver may take to ask for the first block of a file.
    static constexpr int kStartTimeoutMs = 10000;
    // How long a block or EOT may wait for its reply. Longer than a
    // receiver waits for a block (ours 2 s, rz 5 s): a lost block is asked
    // for again by the receiver, and a slow reply never draws a second copy,
    // whose second ACK would be taken for the next block's. Also long enough
    // for a 1k block over a slow modem line.
    static constexpr int kReplyTimeoutMs = 10000;
    // A receiver may clear its input right after it has asked for a block
    // (lrzsz's rz does): what is sent at once can be lost, so after a start
    // request or a refusal the block follows this much later.
    static constexpr int kGapMs = 20;

    TBlockSender(TTransferPort& port, TSenderFiles& files);
    TBlockSender(const TBlockSender&) = delete;
    TBlockSender& operator=(const TBlockSender&) = delete;

    // Starts sending the files (X-Modem: exactly one). Every file is opened
    // first: one that cannot be read raises ETransferFileError, with nothing
    // sent.
    void Start(TSendProtocol protocol, const std::vector<std::string>& paths);
    void ReceiveChunk(const std::uint8_t* data, std::size_t count);
    void TimeoutTimer();
    // The user's cancel: three CANs at once.
    void UserCancel();
    // The line has gone: nothing more is sent.
    void TransportLost();
    // Nothing has come from the receiver for too long: three CANs at once and
    // the transfer ends timed out ("Timed out"); with only the batch's closing
    // header left, it ends complete, as on a lost line.
    void LineSilent();

    State SendState() const;
    bool Running() const;
    TTransferProgress Progress() const;
    // The interval the timer was last armed with (0 when disabled), for tests.
    int TimerInterval() const;

    // A Y-Modem header's data: the name without its folder, NUL, the decimal
    // length, a space, the modification time in octal, NULs to fill 128
    // bytes (1024 when that is too short).
    static std::vector<std::uint8_t> HeaderData(const std::string& path, const TSourceInfo& info);

private:
    // What goes out next (while waiting for the start) or is out (while
    // waiting for its reply).
    enum class Item { Header, Data, Eot, BatchEnd };

    void ReplyByte(std::uint8_t byte);
    void StartByte(std::uint8_t byte);
    void Acknowledged();
    void Refused(const std::string& status);
    void SendItem();
    void SendDataBlock();
    void SendBlock(std::uint8_t number, std::vector<std::uint8_t> data);
    void Resend();
    void PauseThen(bool resend);
    void OpenFile();
    void FileDone();
    void WaitForStart(Item next);

    void Send(const std::uint8_t* bytes, std::size_t count);
    void Arm(int intervalMs);
    void ResetProgress(const std::string& fileName, std::int64_t total);
    void ShowProgress();
    void End(TTransferOutcome outcome, const std::string& status);
    // Three CANs, then the ending.
    void Abort(TTransferOutcome outcome, const std::string& status);
    std::string Kind() const;

    TTransferPort& m_port;
    TSenderFiles& m_files;
    mutable std::mutex m_mutex;

    State m_state = State::Stopped;
    Item m_item = Item::Data;
    TSendProtocol m_protocol = TSendProtocol::XModemCrc;
    std::vector<std::string> m_paths;
    std::size_t m_fileIndex = 0;
    TSourceInfo m_info;
    std::uint64_t m_offset = 0; // of the block that is out
    std::uint8_t m_blockNumber = 1;
    std::size_t m_dataInBlock = 0;     // file bytes in the block that is out
    std::vector<std::uint8_t> m_block; // the block that is out, as sent
    bool m_crc = true;
    bool m_resendAfterPause = false; // else the pause ends with the item's first sending
    int m_tries = 0;
    int m_cancelCount = 0;
    int m_timerInterval = 0;
    bool m_transportLost = false;
    TTransferProgress m_progress;
};

} // namespace telvora
