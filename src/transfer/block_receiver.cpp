#include "transfer/block_receiver.h"

#include "transfer/block_crc.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

namespace telvora {

namespace {

std::string Hex2(std::uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

} // namespace

TBlockReceiver::TBlockReceiver(TTransferPort& port, TReceiverFiles& files)
    : m_port(port), m_files(files) {
    m_progress.status = "Idle";
}

// ---------------------------------------------------------------- operations

void TBlockReceiver::StartSingle(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_files.Create(path); // raises before anything has started
    m_progress.fileName = path;
    Start(false, false);
}

void TBlockReceiver::StartBatch(const std::string& folder, bool streaming) {
    std::lock_guard lock(m_mutex);
    m_files.MakeFolder(folder); // raises before anything has started
    m_files.CloseQuietly();
    m_progress.fileName.clear();
    m_downloadFolder = folder;
    m_filesNamed = 0;
    Start(true, streaming);
}

void TBlockReceiver::Start(bool batch, bool streaming) {
    m_transportLost = false;
    m_pendingReply.reset();
    Arm(kFirstTickMs);
    m_awaitingHeader = batch;
    m_batchMode = batch;
    m_streaming = streaming;
    m_state = State::WaitHeader;
    m_expectedBlock = 1;
    m_accepted = false;
    m_lastBlockSize = 0;
    m_announcedLength.reset();
    m_mismatches.Clear();
    m_cancelCount = 0;
    m_progress.ended = false;
    ResetProgress();
}

void TBlockReceiver::ReceiveChunk(const std::uint8_t* data, std::size_t count) {
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < count; ++i) {
        ReceiveByte(data[i]);
    }
}

void TBlockReceiver::TimeoutTimer() {
    std::lock_guard lock(m_mutex);
    switch (m_state) {
    case State::Stopped:
        return;
    case State::CancelPending:
        m_state = State::Stopped;
        for (const std::uint8_t byte : kCancel) {
            Reply(byte);
        }
        m_expectedBlock = 1;
        Disarm();
        return;
    default:
        break;
    }
    if (m_pendingReply) {
        // The line has been quiet long enough: one answer to the spoiled block.
        const std::uint8_t reply = *m_pendingReply;
        m_pendingReply.reset();
        Reply(reply);
        RestartTimeout(reply == kNak ? static_cast<int>(m_blockSize) : 128);
        return;
    }
    // Inside a file a G sender has gone on without us or stopped: a request
    // now would only start it again from where we no longer are.
    if (Unforgiving() && (m_state != State::WaitHeader || (m_files.IsOpen() && m_accepted))) {
        ++m_progress.errorCount;
        Fail(TTransferOutcome::TimedOut,
             m_awaitingHeader
                 ? "Timed out waiting for the next file's header."
                 : "Timed out waiting for block " + std::to_string(m_expectedBlock) + ".");
        return;
    }
    if (m_expectedBlock == 1) {
        m_progress.status = "Waiting for first block...";
    } else {
        m_progress.status = "Timed out waiting for block.";
        ++m_progress.errorCount;
    }
    ShowProgress();
    Reply(Request());
    m_state = State::WaitHeader;
}

void TBlockReceiver::UserCancel() {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Stopped || m_state == State::CancelPending) {
        return;
    }
    Abort(TTransferOutcome::CancelledHere, "Transfer Aborted.");
}

void TBlockReceiver::TransportLost() {
    std::lock_guard lock(m_mutex);
    m_transportLost = true;
    if (m_state == State::Stopped) {
        return;
    }
    // Already ended (a cancel whose CANs were still to go): the ending the
    // user was shown stays; there is nothing left to send them to.
    if (m_state == State::CancelPending) {
        m_state = State::Stopped;
        Disarm();
        return;
    }
    // A G sender does not wait for its batch's closing header to be taken:
    // lrzsz's sz ends at once, and a pty in front of it often drops those
    // last bytes as it ends. Every file of the batch has arrived whole (its
    // EOT acknowledged, no file open) when the line goes before the next
    // header: the batch is complete.
    if (StreamBetweenFiles()) {
        EndBatch();
        return;
    }
    m_files.CloseQuietly();
    End(TTransferOutcome::LineLost, "Connection lost.", State::Stopped);
}

void TBlockReceiver::LineSilent() {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Stopped || m_state == State::CancelPending) {
        return;
    }
    // The same reasoning as for a lost line: a G sender that has ended
    // leaves the line quiet, not closed, when a board runs it.
    if (StreamBetweenFiles()) {
        EndBatch();
        return;
    }
    Abort(TTransferOutcome::TimedOut, "Timed out");
}

bool TBlockReceiver::StreamBetweenFiles() const {
    return m_streaming && m_awaitingHeader && m_filesNamed > 0 && !m_files.IsOpen() &&
           m_state == State::WaitHeader && !m_pendingReply;
}

TBlockReceiver::State TBlockReceiver::RxState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool TBlockReceiver::Running() const {
    std::lock_guard lock(m_mutex);
    return !m_progress.ended && m_state != State::Stopped;
}

TTransferProgress TBlockReceiver::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

int TBlockReceiver::TimerInterval() const {
    std::lock_guard lock(m_mutex);
    return m_timerInterval;
}

int TBlockReceiver::TimeoutFor(int size, int speed) {
    const auto bytesPerSecond = static_cast<std::uint16_t>(speed / 8);
    const auto seconds =
        static_cast<std::uint16_t>(static_cast<std::uint16_t>(size / bytesPerSecond) + 2);
    return static_cast<std::uint16_t>(seconds * 1000);
}

// ---------------------------------------------------------------- bytes

void TBlockReceiver::ReceiveByte(std::uint8_t byte) {
    switch (m_state) {
    case State::Stopped:
    case State::CancelPending:
        return;
    case State::WaitHeader:
        WaitHeaderByte(byte);
        return;
    case State::BlockNumber:
        m_blockNumber = byte;
        m_state = State::BlockComplement;
        return;
    case State::BlockComplement:
        ComplementByte(byte);
        return;
    case State::Data:
        m_block[m_dataCount++] = byte;
        if (m_dataCount == m_blockSize) {
            m_state = State::CrcHigh;
        }
        return;
    case State::CrcHigh:
        m_crcHigh = byte;
        m_state = State::CrcLow;
        return;
    case State::CrcLow: {
        const unsigned received = m_crcHigh * 256u + byte;
        const unsigned computed = BlockCrc(m_block.data(), m_blockSize);
        // The ones' complement of the right value passes as well.
        if (computed != received && computed != (received ^ 0xFFFFu)) {
            ++m_progress.errorCount;
            if (m_streaming) {
                // A whole block with a good number: no text from the board, a
                // real block, and a G sender does not send it again.
                Fail(TTransferOutcome::ProtocolError,
                     "Block " + std::to_string(m_blockNumber) + " damaged.");
                return;
            }
            m_progress.status = "Invalid Block CRC!";
            ShowProgress();
            AnswerWhenQuiet(kNak);
            return;
        }
        try {
            BlockComplete();
        } catch (const ETransferFileError& failure) {
            Fail(TTransferOutcome::FileError, failure.what());
        }
        return;
    }
    }
}

void TBlockReceiver::WaitHeaderByte(std::uint8_t byte) {
    if (byte == kCan) {
        if (++m_cancelCount > 1) {
            m_cancelCount = 0;
            m_files.CloseQuietly();
            End(TTransferOutcome::CancelledByPeer, "Sender Aborted Transfer!", State::Stopped);
            return;
        }
    } else {
        m_cancelCount = 0;
    }
    if (m_pendingReply) {
        // The rest of a spoiled block, or the sender's resend of it: the
        // answer waits until the line is quiet.
        Arm(kQuietMs);
        return;
    }
    if (byte == kEot) {
        try {
            EndOfFile();
        } catch (const ETransferFileError& failure) {
            Fail(TTransferOutcome::FileError, failure.what());
        }
        return;
    }
    // A G sender sends 128- and 1024-byte blocks only.
    const bool header4k = byte == kHeader4k && !m_streaming;
    const char* kind = byte == kSoh ? "X" : byte == kStx ? "Y" : header4k ? "F" : nullptr;
    if (kind != nullptr) {
        m_blockSize = byte == kSoh ? 128 : byte == kStx ? 1024 : 4096;
        m_progress.status = m_streaming ? std::string("Receiving Block (Y-Modem-G)")
                                        : std::string("Receiving Block (") + kind + "-Modem)";
        ShowProgress();
        m_state = State::BlockNumber;
        RestartTimeout(static_cast<int>(m_blockSize));
        return;
    }
    if (Unforgiving()) {
        // Between two blocks: a sender's cancel (a second CAN follows), or
        // what its program printed on the same line (sz's own messages
        // behind a Telnet server). Nothing is lost by passing over them: a
        // block that went missing shows in the next one's number.
        return;
    }
    // A stray byte, a first CAN included: before a G batch's first header
    // too, where the board may still be printing.
    ++m_progress.errorCount;
    m_progress.status = "Invalid Block Type " + Hex2(byte);
    ShowProgress();
    AnswerWhenQuiet(Request());
}

void TBlockReceiver::ComplementByte(std::uint8_t byte) {
    m_blockComplement = byte;
    const bool header = m_blockNumber == 0 && m_awaitingHeader;
    if (!header && (m_blockNumber ^ 0xFF) != m_blockComplement) {
        ++m_progress.errorCount;
        if (Unforgiving()) {
            const int expected = m_awaitingHeader ? 0 : m_expectedBlock;
            Fail(TTransferOutcome::ProtocolError,
                 "Block " + std::to_string(expected) + " damaged.");
            return;
        }
        m_progress.status = "Invalid Block ID";
        ShowProgress();
        AnswerWhenQuiet(m_streaming ? kStreamRequest : kNak);
        return;
    }
    m_dataCount = 0;
    m_state = State::Data;
}

void TBlockReceiver::BlockComplete() {
    if (m_blockNumber == 0 && m_awaitingHeader) {
        AcceptHeader();
        return;
    }
    if (!m_files.IsOpen()) {
        if (m_progress.fileName.empty()) {
            // A data block before any header: the sender is not batch-sending.
            ResetProgress();
            m_progress.fileName.clear();
            m_port.Cancelled(kCancel);
            End(TTransferOutcome::ProtocolError, "Sender using wrong protocol!",
                State::CancelPending);
            return;
        }
        if (IsRepeatOfLastBlock()) {
            m_state = State::WaitHeader;
            Reply(kAck);
            return;
        }
        Fail(TTransferOutcome::ProtocolError,
             "Block " + std::to_string(m_blockNumber) + " came after the file ended.");
        return;
    }
    if (m_batchMode && m_blockNumber == 0 && !m_accepted) {
        // The header again: our ACK was lost. Its file is kept as it is.
        m_state = State::WaitHeader;
        Reply(kAck);
        if (m_streaming) {
            Reply(kStreamRequest);
        }
        RestartTimeout(static_cast<int>(m_blockSize));
        return;
    }
    if (m_blockNumber == m_expectedBlock) {
        AcceptData();
        return;
    }
    if (!m_streaming && IsRepeatOfLastBlock()) {
        ++m_progress.errorCount;
        m_progress.status = "Repeated block " + std::to_string(m_blockNumber) + " skipped";
        ShowProgress();
        m_state = State::WaitHeader;
        Reply(kAck);
        RestartTimeout(static_cast<int>(m_blockSize));
        return;
    }
    Fail(TTransferOutcome::ProtocolError, "Block " + std::to_string(m_blockNumber) +
                                              " out of sequence (expected " +
                                              std::to_string(m_expectedBlock) + ").");
}

bool TBlockReceiver::IsRepeatOfLastBlock() const {
    return m_accepted && m_blockNumber == static_cast<std::uint8_t>(m_expectedBlock - 1);
}

void TBlockReceiver::AcceptHeader() {
    const auto begin = m_block.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(m_blockSize);
    const std::string sent(begin, std::find(begin, end, std::uint8_t{0}));
    if (sent.empty()) {
        Reply(kAck);
        ResetProgress();
        m_progress.fileName.clear();
        EndBatch();
        return;
    }
    m_announcedLength = AnnouncedLength(sent.size());
    const std::string path = JoinPath(m_downloadFolder, BatchFileName(sent, ++m_filesNamed));
    m_progress.fileName = path;
    m_files.Create(path);
    m_awaitingHeader = false;
    m_expectedBlock = 1;
    m_accepted = false;
    ResetProgress();
    if (m_announcedLength && *m_announcedLength <= static_cast<std::uint64_t>(INT64_MAX)) {
        m_progress.totalBytes = static_cast<std::int64_t>(*m_announcedLength);
    }
    m_progress.status = "Waiting for first block.";
    ShowProgress();
    Reply(kAck);
    if (m_streaming) {
        // A G sender starts the file's blocks only when asked.
        Reply(kStreamRequest);
    }
    m_state = State::WaitHeader;
    RestartTimeout(static_cast<int>(m_blockSize));
}

std::optional<std::uint64_t> TBlockReceiver::AnnouncedLength(std::size_t nameLength) const {
    // The header: name, NUL, then the length in decimal, ended by a space or a NUL.
    std::size_t i = nameLength + 1;
    std::uint64_t length = 0;
    std::size_t digits = 0;
    constexpr std::uint64_t kLargest = std::uint64_t{1} << 53;
    while (i < m_blockSize && m_block[i] >= '0' && m_block[i] <= '9') {
        length = length * 10 + static_cast<std::uint64_t>(m_block[i] - '0');
        if (length > kLargest) {
            return std::nullopt;
        }
        ++digits;
        ++i;
    }
    const bool ended = i == m_blockSize || m_block[i] == ' ' || m_block[i] == 0;
    if (digits == 0 || !ended) {
        return std::nullopt;
    }
    return length;
}

void TBlockReceiver::AcceptData() {
    // On disk before the ACK goes out.
    m_files.Append(m_block.data(), m_blockSize);
    m_lastBlockSize = m_blockSize;
    ++m_expectedBlock;
    m_accepted = true;
    ++m_progress.blocks;
    m_progress.bytes += static_cast<std::int64_t>(m_blockSize);
    m_progress.status = "Block OK";
    ShowProgress();
    if (!m_streaming) {
        Reply(kAck);
    }
    m_state = State::WaitHeader;
    RestartTimeout(static_cast<int>(m_blockSize));
}

void TBlockReceiver::EndOfFile() {
    if (!m_files.IsOpen()) {
        // A repeated EOT (our ACK was lost), or one before any header.
        Reply(kAck);
        return;
    }
    m_files.Close();
    const std::string& path = m_progress.fileName;
    if (!m_files.IsPlainFile(path)) {
        Abort(TTransferOutcome::FileError, "File lost: " + path);
        return;
    }
    const auto received = static_cast<std::uint64_t>(m_progress.bytes);
    const std::optional<std::uint64_t> announced = m_batchMode ? m_announcedLength : std::nullopt;
    m_announcedLength.reset();
    // Within the last block, bytes past the announced length are its fill.
    const bool shorter = announced && received < *announced;
    const bool longer = announced && !shorter && received - *announced > m_lastBlockSize;
    if (shorter || longer) {
        m_mismatches.Note(path.substr(path.find_last_of('/') + 1), received, *announced);
    }
    if (announced && !shorter && !longer) {
        m_files.CutTo(path, *announced);
    } else {
        // No length to trust: only the fill goes, and what came beyond a
        // wrong length stays as the file's own.
        m_files.StripFill(path);
    }
    Reply(kAck);
    if (!m_batchMode) {
        End(TTransferOutcome::Completed, kTransferCompleteText, State::Stopped);
        return;
    }
    ResetProgress();
    m_progress.status = "Waiting for next file...";
    ShowProgress();
    m_state = State::WaitHeader;
    m_expectedBlock = 1;
    m_accepted = false;
    m_awaitingHeader = true;
    Reply(Request());
    RestartTimeout(128);
}

// ---------------------------------------------------------------- helpers

std::uint8_t TBlockReceiver::Request() const {
    return m_streaming ? kStreamRequest : kCrcRequest;
}

bool TBlockReceiver::Unforgiving() const {
    return m_streaming && m_filesNamed > 0;
}

void TBlockReceiver::Reply(std::uint8_t byte) {
    if (!m_transportLost) {
        m_port.Send(&byte, 1);
    }
}

void TBlockReceiver::AnswerWhenQuiet(std::uint8_t reply) {
    // One answer per spoiled block: an answer per stray byte, or a NAK while
    // the rest of a block still arrives, would make the sender send a block
    // more than once, and an ACK of such a copy would then be taken for the
    // next block's, which never arrives.
    m_pendingReply = reply;
    m_state = State::WaitHeader;
    Arm(kQuietMs);
}

void TBlockReceiver::RestartTimeout(int size) {
    Arm(TimeoutFor(size, kNominalSpeed));
}

void TBlockReceiver::Arm(int intervalMs) {
    m_timerInterval = intervalMs;
    m_port.ArmTimer(intervalMs);
}

void TBlockReceiver::Disarm() {
    m_timerInterval = 0;
    m_port.DisableTimer();
}

void TBlockReceiver::ResetProgress() {
    m_progress.status = "Idle";
    m_progress.totalBytes = -1;
    m_progress.bytes = 0;
    m_progress.blocks = 0;
    m_progress.errorCount = 0;
    ShowProgress();
}

void TBlockReceiver::ShowProgress() {
    m_port.ShowProgress(m_progress);
}

void TBlockReceiver::End(TTransferOutcome outcome, const std::string& status, State next) {
    m_pendingReply.reset();
    m_progress.status = status;
    m_progress.ended = true;
    m_progress.outcome = outcome;
    m_cancelCount = 0;
    m_port.Alert();
    ShowProgress();
    m_state = next;
    m_port.EndTransferMode();
    if (next == State::Stopped) {
        Disarm();
    }
}

void TBlockReceiver::EndBatch() {
    if (m_mismatches.Any()) {
        End(TTransferOutcome::ProtocolError, m_mismatches.Summary(), State::Stopped);
    } else {
        End(TTransferOutcome::Completed, kTransferCompleteText, State::Stopped);
    }
}

void TBlockReceiver::Abort(TTransferOutcome outcome, const std::string& status) {
    m_files.CloseQuietly();
    m_port.Cancelled(kCancel);
    End(outcome, status, State::CancelPending);
    Arm(kCancelDelayMs);
}

void TBlockReceiver::Fail(TTransferOutcome outcome, const std::string& what) {
    if (!m_streaming) {
        Abort(outcome, what);
        return;
    }
    std::string reason = what;
    if (!reason.empty() && reason.back() == '.') {
        reason.pop_back();
    }
    if (!reason.empty()) {
        reason[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(reason[0])));
    }
    Abort(outcome, "Y-Modem-G: " + reason + "; G cannot recover, transfer cancelled.");
}

} // namespace telvora
