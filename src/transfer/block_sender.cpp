#include "transfer/block_sender.h"

#include "transfer/block_crc.h"

#include <algorithm>
#include <cstdio>

namespace telvora {

namespace {

constexpr std::size_t kShortBlock = 128;
constexpr std::size_t kLongBlock = 1024;

std::string Octal(std::int64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%llo",
                  static_cast<unsigned long long>(std::max<std::int64_t>(value, 0)));
    return text;
}

} // namespace

TBlockSender::TBlockSender(TTransferPort& port, TSenderFiles& files)
    : m_port(port), m_files(files) {
    m_progress.status = "Idle";
}

// ---------------------------------------------------------------- operations

void TBlockSender::Start(TSendProtocol protocol, const std::vector<std::string>& paths) {
    std::lock_guard lock(m_mutex);
    if (paths.empty() || (protocol != TSendProtocol::YModem && paths.size() != 1)) {
        throw ETransferFileError(protocol == TSendProtocol::YModem
                                     ? "No file to send."
                                     : "X-Modem sends exactly one file.");
    }
    // Every file is looked at before anything goes out.
    for (const std::string& path : paths) {
        m_files.Open(path);
        m_files.Close();
    }
    m_protocol = protocol;
    m_paths = paths;
    m_fileIndex = 0;
    m_transportLost = false;
    m_cancelCount = 0;
    m_crc = true;
    m_progress = TTransferProgress{};
    OpenFile();
    WaitForStart(protocol == TSendProtocol::YModem ? Item::Header : Item::Data);
}

void TBlockSender::ReceiveChunk(const std::uint8_t* data, std::size_t count) {
    std::lock_guard lock(m_mutex);
    try {
        for (std::size_t i = 0; i < count && m_state != State::Stopped; ++i) {
            ReplyByte(data[i]);
        }
    } catch (const ETransferFileError& failure) {
        Abort(TTransferOutcome::FileError, failure.what());
    }
}

void TBlockSender::TimeoutTimer() {
    std::lock_guard lock(m_mutex);
    switch (m_state) {
    case State::Stopped:
        return;
    case State::Pause:
        if (m_resendAfterPause) {
            Resend();
        } else {
            SendItem();
        }
        return;
    case State::WaitStart:
        if (++m_tries >= kTries) {
            Abort(TTransferOutcome::TimedOut, "Transfer Aborted.");
            return;
        }
        m_progress.status = "Waiting for receiver...";
        ShowProgress();
        return;
    case State::WaitReply:
        if (m_item == Item::BatchEnd && m_tries + 1 >= kBatchEndTries) {
            // Every file was acknowledged to its end: a receiver that leaves
            // the batch's closing header unanswered has them all (rz exits
            // at once, and its last reply can be lost on the way).
            End(TTransferOutcome::Completed, kTransferCompleteText);
            return;
        }
        ++m_progress.errorCount;
        m_progress.status = "Timed out waiting for reply.";
        ShowProgress();
        Resend();
        return;
    }
}

void TBlockSender::UserCancel() {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Stopped) {
        Abort(TTransferOutcome::CancelledHere, "Transfer Aborted.");
    }
}

void TBlockSender::TransportLost() {
    std::lock_guard lock(m_mutex);
    m_transportLost = true;
    if (m_state == State::Stopped) {
        return;
    }
    m_files.Close();
    // Every file of the batch was acknowledged to its end: only the empty
    // header that closes the batch was left, and a receiver that has hung up
    // (rz exits at once, and its last reply can be lost on the way) has
    // every file.
    if (m_item == Item::BatchEnd) {
        End(TTransferOutcome::Completed, kTransferCompleteText);
    } else {
        End(TTransferOutcome::LineLost, "Connection lost.");
    }
}

void TBlockSender::LineSilent() {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Stopped) {
        return;
    }
    // As for a lost line: with only the batch's closing header left, the
    // receiver has every file.
    if (m_item == Item::BatchEnd) {
        m_files.Close();
        End(TTransferOutcome::Completed, kTransferCompleteText);
        return;
    }
    Abort(TTransferOutcome::TimedOut, "Timed out");
}

TBlockSender::State TBlockSender::SendState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool TBlockSender::Running() const {
    std::lock_guard lock(m_mutex);
    return m_state != State::Stopped;
}

TTransferProgress TBlockSender::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

int TBlockSender::TimerInterval() const {
    std::lock_guard lock(m_mutex);
    return m_timerInterval;
}

std::vector<std::uint8_t> TBlockSender::HeaderData(const std::string& path,
                                                   const TSourceInfo& info) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const std::string details = std::to_string(info.size) + " " + Octal(info.modified);
    // A name too long even for a long block keeps its end, where its type is.
    const std::size_t room = kLongBlock - details.size() - 2;
    if (name.size() > room) {
        name.erase(0, name.size() - room);
    }
    std::vector<std::uint8_t> data(name.begin(), name.end());
    data.push_back(0);
    data.insert(data.end(), details.begin(), details.end());
    data.resize(data.size() < kShortBlock ? kShortBlock : kLongBlock, 0);
    return data;
}

// ---------------------------------------------------------------- replies

void TBlockSender::ReplyByte(std::uint8_t byte) {
    if (byte == kCan) {
        if (++m_cancelCount >= 2) {
            m_files.Close();
            End(TTransferOutcome::CancelledByPeer, "Receiver Aborted Transfer!");
        }
        return;
    }
    m_cancelCount = 0;
    if (m_state == State::WaitStart) {
        StartByte(byte);
        return;
    }
    if (m_state == State::Pause) {
        return; // a second request for the same thing
    }
    switch (byte) {
    case kAck:
        Acknowledged();
        return;
    case kNak:
    case kCrcRequest:
        Refused(m_item == Item::Eot ? "End of file refused." : "Block refused.");
        return;
    default:
        return; // noise, or a spoiled reply: the timeout resends
    }
}

void TBlockSender::StartByte(std::uint8_t byte) {
    if (byte != kCrcRequest && byte != kNak) {
        return; // the BBS's own text before its receiver starts
    }
    m_crc = byte == kCrcRequest;
    PauseThen(false);
}

void TBlockSender::PauseThen(bool resend) {
    m_resendAfterPause = resend;
    m_state = State::Pause;
    Arm(kGapMs);
}

void TBlockSender::Acknowledged() {
    m_tries = 0;
    switch (m_item) {
    case Item::Header:
        WaitForStart(Item::Data);
        return;
    case Item::BatchEnd:
        End(TTransferOutcome::Completed, kTransferCompleteText);
        return;
    case Item::Data:
        m_offset += m_dataInBlock;
        m_progress.bytes += static_cast<std::int64_t>(m_dataInBlock);
        ++m_progress.blocks;
        ++m_blockNumber;
        SendDataBlock();
        ShowProgress();
        Arm(kReplyTimeoutMs);
        return;
    case Item::Eot:
        FileDone();
        return;
    }
}

void TBlockSender::Refused(const std::string& status) {
    ++m_progress.errorCount;
    m_progress.status = status;
    ShowProgress();
    PauseThen(true);
}

// ---------------------------------------------------------------- sending

void TBlockSender::SendItem() {
    m_tries = 0;
    switch (m_item) {
    case Item::Header:
        SendBlock(0, HeaderData(m_paths[m_fileIndex], m_info));
        m_progress.status = "Sending file name...";
        break;
    case Item::BatchEnd:
        SendBlock(0, std::vector<std::uint8_t>(kShortBlock, 0));
        m_progress.status = "Ending the batch...";
        break;
    case Item::Data:
        SendDataBlock();
        break;
    case Item::Eot:
        m_block = {kEot};
        Send(m_block.data(), m_block.size());
        break;
    }
    ShowProgress();
    m_state = State::WaitReply;
    Arm(kReplyTimeoutMs);
}

void TBlockSender::SendDataBlock() {
    const std::uint64_t left = m_info.size > m_offset ? m_info.size - m_offset : 0;
    // Short blocks for X-Modem CRC, for the checksum (1k blocks need the
    // CRC), and for a file's last 128 bytes or fewer, which then need less fill.
    const bool shortBlock = m_protocol == TSendProtocol::XModemCrc || !m_crc || left <= kShortBlock;
    std::vector<std::uint8_t> data(shortBlock ? kShortBlock : kLongBlock);
    const std::size_t got = m_files.Read(data.data(), data.size());
    if (got == 0) {
        m_item = Item::Eot;
        m_block = {kEot};
        Send(m_block.data(), m_block.size());
        m_progress.status = "End of file.";
        return;
    }
    std::fill(data.begin() + static_cast<std::ptrdiff_t>(got), data.end(), kFill);
    m_item = Item::Data;
    m_dataInBlock = got;
    m_progress.status = "Sending Block (" + Kind() + ")";
    SendBlock(m_blockNumber, std::move(data));
}

void TBlockSender::SendBlock(std::uint8_t number, std::vector<std::uint8_t> data) {
    m_block.clear();
    m_block.reserve(data.size() + 5);
    m_block.push_back(data.size() == kShortBlock ? kSoh : kStx);
    m_block.push_back(number);
    m_block.push_back(static_cast<std::uint8_t>(number ^ 0xFF));
    m_block.insert(m_block.end(), data.begin(), data.end());
    if (m_crc) {
        const std::uint16_t crc = BlockCrc(data.data(), data.size());
        m_block.push_back(static_cast<std::uint8_t>(crc >> 8));
        m_block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    } else {
        std::uint8_t sum = 0;
        for (const std::uint8_t byte : data) {
            sum = static_cast<std::uint8_t>(sum + byte);
        }
        m_block.push_back(sum);
    }
    Send(m_block.data(), m_block.size());
}

void TBlockSender::Resend() {
    if (++m_tries >= kTries) {
        Abort(TTransferOutcome::TimedOut, "Transfer Aborted.");
        return;
    }
    Send(m_block.data(), m_block.size());
    m_state = State::WaitReply;
    Arm(kReplyTimeoutMs);
}

void TBlockSender::OpenFile() {
    const std::string& path = m_paths[m_fileIndex];
    m_info = m_files.Open(path);
    m_offset = 0;
    m_blockNumber = 1;
    m_dataInBlock = 0;
    ResetProgress(path, static_cast<std::int64_t>(m_info.size));
}

void TBlockSender::FileDone() {
    m_files.Close();
    if (m_protocol != TSendProtocol::YModem) {
        End(TTransferOutcome::Completed, kTransferCompleteText);
        return;
    }
    if (++m_fileIndex < m_paths.size()) {
        OpenFile();
        WaitForStart(Item::Header);
        return;
    }
    ResetProgress("", -1);
    WaitForStart(Item::BatchEnd);
}

void TBlockSender::WaitForStart(Item next) {
    m_item = next;
    m_state = State::WaitStart;
    m_tries = 0;
    m_progress.status = "Waiting for receiver...";
    ShowProgress();
    Arm(kStartTimeoutMs);
}

// ---------------------------------------------------------------- helpers

void TBlockSender::Send(const std::uint8_t* bytes, std::size_t count) {
    if (!m_transportLost) {
        m_port.Send(bytes, count);
    }
}

void TBlockSender::Arm(int intervalMs) {
    m_timerInterval = intervalMs;
    m_port.ArmTimer(intervalMs);
}

void TBlockSender::ResetProgress(const std::string& fileName, std::int64_t total) {
    m_progress.fileName = fileName;
    m_progress.bytes = 0;
    m_progress.blocks = 0;
    m_progress.errorCount = 0;
    m_progress.totalBytes = total;
    m_progress.ended = false;
}

void TBlockSender::ShowProgress() {
    m_port.ShowProgress(m_progress);
}

std::string TBlockSender::Kind() const {
    return m_protocol == TSendProtocol::YModem ? "Y-Modem" : "X-Modem";
}

void TBlockSender::End(TTransferOutcome outcome, const std::string& status) {
    m_state = State::Stopped;
    m_cancelCount = 0;
    m_progress.status = status;
    m_progress.ended = true;
    m_progress.outcome = outcome;
    m_timerInterval = 0;
    m_port.DisableTimer();
    m_port.Alert();
    ShowProgress();
    m_port.EndTransferMode();
}

void TBlockSender::Abort(TTransferOutcome outcome, const std::string& status) {
    Send(kCancel.data(), kCancel.size());
    m_files.Close();
    m_port.Cancelled(kCancel);
    End(outcome, status);
}

} // namespace telvora
