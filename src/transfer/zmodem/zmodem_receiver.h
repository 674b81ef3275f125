#pragma once

#include "transfer/batch_file_name.h"
#include "transfer/transfer_port.h"
#include "transfer/zmodem/zmodem_decoder.h"
#include "transfer/zmodem/zmodem_encoder.h"
#include "transfer/zmodem/zmodem_files.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace telvora {

// What to do when a file the sender names is already in the download folder.
enum class TExistingFile {
    Ask,       // pause and ask the user, once per transfer
    Resume,    // keep what is there and have the rest sent (crash recovery)
    Overwrite, // receive it again from the start
    Rename,    // receive it under a free name ("NAME.1.EXT", "NAME.2.EXT", ...)
    Skip,      // leave it alone; the sender goes on with the next file
};

// The receiving side of ZMODEM: a byte-driven state machine that answers a
// sender such as lrzsz's sz, writing the files it names into one folder.
//
// Start sends ZRINIT (full duplex, overlapped I/O, CRC-32, no buffer limit:
// the sender may stream). Each ZFILE is answered with ZRPOS at the position
// to start from, or ZSKIP; data subpackets are written as they pass their
// CRC; a damaged or missing subpacket, a data frame at the wrong position or
// ten quiet seconds draw the attention string (when the sender gave one in
// ZSINIT) and a ZRPOS at the last good position, at most kMaxRetries times
// in a row. ZEOF at our position closes the file (dated as the sender said);
// ZFIN is answered with ZFIN, and the "OO" after it is waited for briefly.
// A file whose ZEOF comes at another length than its ZFILE announced (a
// resumed one counting what it had) is kept and the batch goes on, but ends
// as a protocol error naming it. A file no longer there once closed (its
// folder removed meanwhile) ends the transfer with our cancel.
// The other side's cancel (five CANs, ZCAN, ZABORT) ends the transfer and
// keeps what was received; so does a user's cancel, which sends eight CANs
// and ten backspaces.
//
// Names are those of BatchFileName: the last component only, never outside
// the folder. Anything under the name but a plain file (a link, a FIFO) is
// never resumed or overwritten: where either is chosen, the file arrives
// under a new name, cut to keep within the length limit with its suffix.
//
// Threads: every operation takes the receiver's lock for its whole run;
// bytes come from a connection thread, the ticks, the cancel and the answer
// to a question from the user-interface thread. The port and the question
// callback are called with the lock held and must not call back.
class TZmodemReceiver {
public:
    enum class State { Stopped, WaitFile, AskExisting, WaitData, Data, Finishing };

    // The timer ticks this often for the whole transfer.
    static constexpr int kTickMs = 1000;
    // Quiet ticks before a request is sent again.
    static constexpr int kTimeoutTicks = 10;
    // Requests sent again in a row (errors or timeouts, without a good
    // subpacket between) before the transfer is given up.
    static constexpr int kMaxRetries = 20;
    // Ticks to wait for the sender's "OO" after our ZFIN.
    static constexpr int kFinishTicks = 1;
    // Longer attention strings are cut: lrzsz's limit.
    static constexpr std::size_t kMaxAttention = 32;
    // "NAME.1.EXT" up to this number is tried for a renamed file.
    static constexpr int kMaxRenames = 999;

    // Told, with the lock held, the path of the first existing file when the
    // choice is Ask; the transfer waits until Choose() is called.
    using TAskExisting = std::function<void(const std::string& path)>;

    TZmodemReceiver(TTransferPort& port, TZmodemFiles& files);
    TZmodemReceiver(const TZmodemReceiver&) = delete;
    TZmodemReceiver& operator=(const TZmodemReceiver&) = delete;

    void SetAskExisting(TAskExisting ask);
    // Receives into the folder, made when missing; sends ZRINIT at once,
    // unless the sender has begun: its ZRQINIT, already on its way, is
    // answered when it comes (a ZRINIT more would be read by lrzsz's sz as
    // the answer to its ZFILE, after which it reads past a cancel). A folder
    // that cannot be made ends the transfer at once, with our cancel.
    void Start(const std::string& folder, TExistingFile existing, bool senderBegan = false);
    // Returns how many bytes it took: once the transfer has ended, what
    // follows is not its own (the board's text after the transfer).
    std::size_t ReceiveChunk(const std::uint8_t* data, std::size_t count);
    void TimeoutTimer();
    // The user's answer to the question, for this and every later existing
    // file of the transfer (Ask counts as Skip). Ignored when not asked.
    void Choose(TExistingFile choice);
    void UserCancel();
    // The line has gone: nothing more is sent.
    void TransportLost();
    // Nothing has come from the sender for too long: our cancel, and the
    // transfer ends timed out (status::kTimedOut), the file kept as far as
    // received. Ignored while the user is asked about an existing file (the
    // sender waits for us); after the sender's ZFIN it ends as the wait for
    // its "OO" would.
    void LineSilent();

    State RxState() const;
    bool Running() const;
    bool WaitingForChoice() const;
    TTransferProgress Progress() const;
    // Data bytes written in this run (a resumed file counts only the rest).
    std::uint64_t BytesWritten() const;
    int TimerInterval() const;

    // A ZFILE subpacket's parts: the name, then "LENGTH MTIME MODE ..." in
    // decimal and octal; what is missing or unreadable stays unknown.
    struct TFileOffer {
        std::string name;
        std::optional<std::uint64_t> length;
        std::int64_t modified = 0; // seconds since 1970; 0: not said
    };
    static TFileOffer ParseFileOffer(const std::vector<std::uint8_t>& data);

private:
    void Feed(std::uint8_t byte);
    void OnHeader(const TZmodemEvent& event);
    void OnSubpacket(const TZmodemEvent& event);
    void OnDamage();
    void OnFileOffer();
    void OnData(const TZmodemEvent& event);
    void OnEndOfFile(std::uint32_t position);
    void OnDataHeader(std::uint32_t position);
    void OnFinish();
    void Decide(TExistingFile choice);
    void StartFileAt(std::uint64_t position);
    void SkipFile(const std::string& status);
    void CloseFile();
    std::string FreeName(const std::string& path);

    // Asks for the data again from the last good position (a ZRPOS after
    // the attention string); too many in a row end the transfer.
    void Resync(bool timedOut);
    // Repeats what the current state waits an answer for.
    void AskAgain(bool timedOut);
    bool CountRetry(bool timedOut);
    void SendRInit();
    void SendHex(zmodem::TFrameType type, const zmodem::THeaderBytes& bytes);
    void SendPosition(zmodem::TFrameType type);
    void SendAttention();
    void SendCancel();
    void Send(const std::vector<std::uint8_t>& bytes);
    void ShowProgress();
    void Status(const std::string& status);
    void End(TTransferOutcome outcome, const std::string& status);
    // The batch's good ending, unless a file arrived at another length than
    // announced.
    void EndBatch();
    // Ends after the cancel sequence; the file is kept as it is.
    void Abort(TTransferOutcome outcome, const std::string& status);

    TTransferPort& m_port;
    TZmodemFiles& m_files;
    mutable std::mutex m_mutex;
    TAskExisting m_ask;

    State m_state = State::Stopped;
    TZmodemDecoder m_decoder;
    TZmodemEncoder m_encoder;
    std::string m_folder;
    TExistingFile m_existing = TExistingFile::Ask;
    // The frame whose subpackets are expected (ZFILE, ZSINIT or ZDATA).
    zmodem::TFrameType m_frame = zmodem::kRqInit;
    std::uint8_t m_frameFlags = 0;
    std::vector<std::uint8_t> m_attention;
    bool m_escapeControls = false;
    TFileOffer m_offer;
    std::string m_path; // the file being written, or asked about
    bool m_fileOpen = false;
    std::uint64_t m_position = 0;
    std::uint64_t m_written = 0;
    int m_filesNamed = 0;
    TLengthMismatches m_mismatches;
    int m_quietTicks = 0;
    int m_finishOs = 0;
    int m_retries = 0;
    int m_timerInterval = 0;
    bool m_transportLost = false;
    TTransferProgress m_progress;
};

} // namespace telvora
