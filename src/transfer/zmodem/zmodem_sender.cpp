#include "transfer/zmodem/zmodem_sender.h"

#include "transfer/zmodem/zmodem_status.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>

namespace telvora {

using namespace zmodem;
namespace status = zmodem_status;

namespace {} // namespace

TZmodemSender::TZmodemSender(TTransferPort& port, TZmodemSource& files)
    : m_port(port), m_files(files) {
    m_progress.status = "Idle";
}

std::vector<std::uint8_t> TZmodemSender::FileOffer(const std::string& path,
                                                   const TZmodemSource::TInfo& info, int filesLeft,
                                                   std::uint64_t bytesLeft) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%llu %llo 0 0 %d %llu",
                  static_cast<unsigned long long>(info.size),
                  static_cast<unsigned long long>(std::max<std::int64_t>(info.modified, 0)),
                  filesLeft, static_cast<unsigned long long>(bytesLeft));
    std::vector<std::uint8_t> offer(name.begin(), name.end());
    offer.push_back(0);
    offer.insert(offer.end(), numbers, numbers + std::char_traits<char>::length(numbers));
    offer.push_back(0);
    return offer;
}

// ---------------------------------------------------------------- operations

void TZmodemSender::Start(const std::vector<std::string>& paths) {
    std::lock_guard lock(m_mutex);
    std::vector<TZmodemSource::TInfo> infos;
    for (const std::string& path : paths) {
        infos.push_back(m_files.Open(path)); // raises before anything is sent
        m_files.Close();
        // Headers carry 32-bit positions: past 4 GiB the receiver's ZACKs and
        // ZRPOSes could no longer be told apart from early ones.
        if (infos.back().size > UINT32_MAX) {
            ThrowFileError("send", path, EFBIG);
        }
    }
    m_paths = paths;
    m_infos = std::move(infos);
    m_fileIndex = 0;
    m_skipped = 0;
    m_offers = 0;
    m_staleAnswers = 0;
    m_decoder.Reset();
    m_encoder = TZmodemEncoder();
    m_crc32 = false;
    m_receiverBuffer = 0;
    m_subpacket = kStartSubpacket;
    m_cleanRun = 0;
    m_quietTicks = 0;
    m_tries = 0;
    m_transportLost = false;
    m_frameOpen = false;
    m_progress = TTransferProgress{};
    m_state = State::WaitInit;
    m_timerInterval = kTickMs;
    m_port.ArmTimer(kTickMs);
    Status(status::kWaitingForReceiver);
    const std::vector<std::uint8_t> command{'r', 'z', '\r'};
    Send(command);
    SendRqInit();
}

std::size_t TZmodemSender::ReceiveChunk(const std::uint8_t* data, std::size_t count) {
    std::lock_guard lock(m_mutex);
    std::size_t taken = 0;
    for (; taken < count && m_state != State::Stopped; ++taken) {
        Feed(data[taken]);
    }
    return taken;
}

void TZmodemSender::TimeoutTimer() {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Stopped) {
        return;
    }
    if (m_state == State::Streaming) {
        PumpLocked(kBurstBytes);
        return;
    }
    if (m_state == State::WaitFin) {
        if (++m_finTicks % kFinTimeoutTicks != 0) {
            return;
        }
        if (m_finTicks >= kFinTimeoutTicks * kFinTries) {
            EndBatch();
        } else {
            SendFin();
        }
        return;
    }
    ++m_offerTicks;
    if (++m_quietTicks < kTimeoutTicks) {
        return;
    }
    m_quietTicks = 0;
    if (++m_tries > kMaxTries) {
        Abort(TTransferOutcome::TimedOut, status::kTimedOut);
        return;
    }
    Repeat();
}

bool TZmodemSender::Pump(std::size_t budget) {
    std::lock_guard lock(m_mutex);
    return PumpLocked(budget);
}

bool TZmodemSender::WantsToSend() const {
    std::lock_guard lock(m_mutex);
    return m_state == State::Streaming;
}

void TZmodemSender::UserCancel() {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Stopped) {
        return;
    }
    Abort(TTransferOutcome::CancelledHere, status::kCancelled);
}

void TZmodemSender::TransportLost() {
    std::lock_guard lock(m_mutex);
    m_transportLost = true;
    if (m_state == State::Stopped) {
        return;
    }
    End(TTransferOutcome::LineLost, status::kConnectionLost);
}

void TZmodemSender::LineSilent() {
    std::lock_guard lock(m_mutex);
    switch (m_state) {
    case State::Stopped:
        return;
    case State::WaitFin: // every file was answered: as an unanswered ZFIN ends
        EndBatch();
        return;
    default:
        Abort(TTransferOutcome::TimedOut, status::kTimedOut);
        return;
    }
}

TZmodemSender::State TZmodemSender::SendState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool TZmodemSender::Running() const {
    std::lock_guard lock(m_mutex);
    return m_state != State::Stopped;
}

TTransferProgress TZmodemSender::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

int TZmodemSender::TimerInterval() const {
    std::lock_guard lock(m_mutex);
    return m_timerInterval;
}

std::size_t TZmodemSender::SubpacketSize() const {
    std::lock_guard lock(m_mutex);
    return m_subpacket;
}

// ---------------------------------------------------------------- replies

void TZmodemSender::Feed(std::uint8_t byte) {
    const TZmodemEvent event = m_decoder.Feed(byte);
    try {
        switch (event.kind) {
        case TZmodemEvent::Kind::Cancel:
            End(TTransferOutcome::CancelledByPeer, status::kCancelledByPeer);
            return;
        case TZmodemEvent::Kind::Header:
            OnHeader(event);
            return;
        case TZmodemEvent::Kind::BadHeader:
            // The receiver repeats what it wants when we do not answer.
            ++m_progress.errorCount;
            ShowProgress();
            return;
        default:
            return;
        }
    } catch (const ETransferFileError& failure) {
        Abort(TTransferOutcome::FileError, failure.what());
    }
}

void TZmodemSender::OnHeader(const TZmodemEvent& event) {
    m_quietTicks = 0;
    switch (event.type) {
    case kRInit:
        if (m_state == State::WaitInit || m_state == State::WaitEofAck) {
            OnReceiverReady(event.bytes);
        } else if (m_state == State::WaitFilePosition && m_offerTicks >= kEchoGraceTicks) {
            OfferFile(); // it has not seen our ZFILE
        }
        return;
    case kRPos:
        OnPosition(HeaderPosition(event.bytes));
        return;
    case kAck:
        OnAck(HeaderPosition(event.bytes));
        return;
    case kSkip:
        OnSkip();
        return;
    case kNak:
        Repeat();
        return;
    case kFin:
        if (m_state == State::WaitFin) {
            const std::vector<std::uint8_t> overAndOut{'O', 'O'};
            Send(overAndOut);
            EndBatch();
        } else {
            End(TTransferOutcome::CancelledByPeer, status::kCancelledByPeer);
        }
        return;
    case kCancel:
    case kAbort:
    case kFErr:
        End(TTransferOutcome::CancelledByPeer, status::kCancelledByPeer);
        return;
    default:
        return;
    }
}

void TZmodemSender::OnReceiverReady(const THeaderBytes& bytes) {
    m_tries = 0;
    const std::uint8_t flags = bytes[kF0];
    m_crc32 = (flags & kCanCrc32) != 0;
    m_encoder.SetEscapeControls((flags & kEscapeControls) != 0);
    m_receiverBuffer = static_cast<std::size_t>(bytes[0] | bytes[1] << 8);
    if (m_state == State::WaitEofAck) {
        FileDone(status::kSending);
        return;
    }
    OfferNextFile();
}

void TZmodemSender::OnSkip() {
    if (m_state != State::WaitFilePosition && m_state != State::Streaming &&
        m_state != State::WaitAck && m_state != State::WaitEofAck) {
        return;
    }
    if (m_state == State::WaitFilePosition && m_staleAnswers > 0) {
        // The receiver skipping again a file it was offered twice. Should it
        // rather have been this offer's answer, the receiver gives it again
        // when the offer is repeated.
        --m_staleAnswers;
        return;
    }
    m_staleAnswers = m_state == State::WaitFilePosition ? m_offers - 1 : 0;
    ++m_skipped;
    FileDone(status::kSkippedByReceiver);
}

void TZmodemSender::OnPosition(std::uint32_t position) {
    if (m_state == State::WaitInit || m_state == State::WaitFin) {
        return;
    }
    m_tries = 0;
    const std::uint64_t wanted = std::min<std::uint64_t>(position, m_size);
    if (m_state == State::WaitFilePosition) {
        m_staleAnswers = 0; // answers come in order: any for earlier offers came before
        Status(wanted > 0 ? status::ResumingAt(wanted) : status::kSending);
        m_confirmedPos = wanted;
        MoveTo(wanted);
        if (wanted == m_size) {
            SendEof();
            return;
        }
        SendDataHeader();
        PumpLocked(kBurstBytes);
        return;
    }
    // A receiver hunting for our next frame asks again for every stretch of
    // data still on its way: those repeats, and requests for what it has
    // already acknowledged, are history, not new damage.
    if (wanted < m_confirmedPos || (m_resyncing && wanted == m_resyncPos)) {
        return;
    }
    // Data was damaged or lost on the way: smaller subpackets lose less.
    ++m_progress.errorCount;
    m_subpacket = std::max(kSmallestSubpacket, m_subpacket / 2);
    m_cleanRun = 0;
    Status(status::RewindingTo(wanted));
    MoveTo(wanted);
    if (wanted == m_size) {
        SendEof();
        return;
    }
    m_resyncing = true;
    m_resyncPos = wanted;
    SendResync();
}

void TZmodemSender::MoveTo(std::uint64_t position) {
    m_sendPos = position;
    m_ackedPos = position;
    m_nextAckAt = position + kAckInterval;
}

void TZmodemSender::SendResync() {
    // An empty frame that must be acknowledged: nothing more goes out until
    // the receiver is known to be back in step.
    std::vector<std::uint8_t> out;
    m_encoder.BinaryHeader(out, kData, PositionHeader(static_cast<std::uint32_t>(m_sendPos)),
                           m_crc32);
    m_encoder.Subpacket(out, nullptr, 0, TSubpacketEnd::CrcW, m_crc32);
    m_frameOpen = false;
    m_state = State::WaitAck;
    m_quietTicks = 0;
    Send(out);
}

void TZmodemSender::OnAck(std::uint32_t position) {
    if (m_state != State::Streaming && m_state != State::WaitAck) {
        return;
    }
    m_tries = 0;
    if (position > m_ackedPos && position <= m_sendPos) {
        m_ackedPos = position;
    }
    if (position <= m_sendPos) {
        m_confirmedPos = std::max<std::uint64_t>(m_confirmedPos, position);
    }
    if (m_state != State::WaitAck) {
        return;
    }
    if (!m_frameOpen) {
        // The receiver has emptied its buffer after our ZCRCW, or is back
        // in step after a resync.
        m_resyncing = false;
        MoveTo(std::min<std::uint64_t>(position, m_sendPos));
        SendDataHeader();
        PumpLocked(kBurstBytes);
    } else if (m_sendPos - m_ackedPos < kStreamWindow) {
        m_state = State::Streaming;
        PumpLocked(kBurstBytes);
    }
}

// ---------------------------------------------------------------- files

void TZmodemSender::OfferNextFile() {
    if (m_fileIndex >= m_paths.size()) {
        SendFin();
        return;
    }
    m_files.Open(m_paths[m_fileIndex]);
    m_size = m_infos[m_fileIndex].size;
    MoveTo(0);
    m_confirmedPos = 0;
    m_resyncing = false;
    m_progress.fileName = m_paths[m_fileIndex];
    m_progress.totalBytes = static_cast<std::int64_t>(m_size);
    m_progress.bytes = 0;
    m_progress.blocks = 0;
    m_offers = 0;
    Status(status::kWaitingForReceiver);
    OfferFile();
}

void TZmodemSender::OfferFile() {
    int filesLeft = 0;
    std::uint64_t bytesLeft = 0;
    for (std::size_t i = m_fileIndex; i < m_infos.size(); ++i) {
        ++filesLeft;
        bytesLeft += m_infos[i].size;
    }
    THeaderBytes flags{};
    flags[kF0] = kConvertBinary;
    std::vector<std::uint8_t> out;
    m_encoder.BinaryHeader(out, kFile, flags, m_crc32);
    const auto offer = FileOffer(m_paths[m_fileIndex], m_infos[m_fileIndex], filesLeft, bytesLeft);
    m_encoder.Subpacket(out, offer.data(), offer.size(), TSubpacketEnd::CrcW, m_crc32);
    m_state = State::WaitFilePosition;
    m_offerTicks = 0;
    ++m_offers;
    Send(out);
}

void TZmodemSender::FileDone(const std::string& statusText) {
    m_files.Close();
    m_frameOpen = false;
    Status(statusText);
    ++m_fileIndex;
    OfferNextFile();
}

// ---------------------------------------------------------------- data

void TZmodemSender::SendDataHeader() {
    std::vector<std::uint8_t> out;
    m_encoder.BinaryHeader(out, kData, PositionHeader(static_cast<std::uint32_t>(m_sendPos)),
                           m_crc32);
    m_frameOpen = true;
    m_state = State::Streaming;
    Send(out);
}

bool TZmodemSender::WindowOpen() const {
    return m_sendPos - m_ackedPos < WindowLimit();
}

std::size_t TZmodemSender::WindowLimit() const {
    return m_receiverBuffer > 0 ? m_receiverBuffer : kStreamWindow;
}

TSubpacketEnd TZmodemSender::NextEnd(std::size_t count) const {
    const std::uint64_t after = m_sendPos + count;
    if (after >= m_size) {
        return TSubpacketEnd::CrcE;
    }
    if (m_receiverBuffer > 0) {
        return after - m_ackedPos >= m_receiverBuffer ? TSubpacketEnd::CrcW : TSubpacketEnd::CrcG;
    }
    return after >= m_nextAckAt ? TSubpacketEnd::CrcQ : TSubpacketEnd::CrcG;
}

bool TZmodemSender::PumpLocked(std::size_t budget) {
    if (m_state != State::Streaming) {
        return false;
    }
    std::vector<std::uint8_t> out;
    std::uint8_t data[kLargestSubpacket];
    std::size_t sent = 0;
    bool fileEnded = false;
    try {
        while (m_state == State::Streaming && sent < budget) {
            if (!WindowOpen()) {
                m_state = State::WaitAck; // until a ZACK moves the window
                break;
            }
            std::size_t count = std::min<std::uint64_t>(m_subpacket, m_size - m_sendPos);
            count = std::min<std::uint64_t>(count, WindowLimit() - (m_sendPos - m_ackedPos));
            const std::size_t got = m_files.ReadAt(m_sendPos, data, count);
            if (got < count) {
                m_size = m_sendPos + got; // the file has shrunk since it was offered
            }
            const TSubpacketEnd end = NextEnd(got);
            m_encoder.Subpacket(out, data, got, end, m_crc32);
            m_sendPos += got;
            sent += std::max<std::size_t>(got, 1);
            ++m_progress.blocks;
            m_cleanRun += got;
            const std::size_t largest =
                m_receiverBuffer == 0 && m_crc32 ? kLargestSubpacket : kStartSubpacket;
            if (m_cleanRun >= kCleanRunToGrow && m_subpacket < largest) {
                m_subpacket *= 2;
                m_cleanRun = 0;
            }
            switch (end) {
            case TSubpacketEnd::CrcQ:
                m_nextAckAt = m_sendPos + kAckInterval;
                break;
            case TSubpacketEnd::CrcW:
                m_frameOpen = false;
                m_state = State::WaitAck;
                break;
            case TSubpacketEnd::CrcE:
                m_frameOpen = false;
                fileEnded = true;
                break;
            case TSubpacketEnd::CrcG:
                break;
            }
            if (fileEnded) {
                break;
            }
        }
    } catch (const ETransferFileError& failure) {
        Send(out);
        Abort(TTransferOutcome::FileError, failure.what());
        return false;
    }
    Send(out);
    m_progress.bytes = static_cast<std::int64_t>(m_sendPos);
    ShowProgress();
    if (fileEnded) {
        SendEof();
    }
    return m_state == State::Streaming;
}

void TZmodemSender::SendEof() {
    std::vector<std::uint8_t> out;
    m_encoder.BinaryHeader(out, kEof, PositionHeader(static_cast<std::uint32_t>(m_sendPos)),
                           m_crc32);
    m_state = State::WaitEofAck;
    Send(out);
}

void TZmodemSender::SendFin() {
    std::vector<std::uint8_t> out;
    m_encoder.HexHeader(out, kFin, PositionHeader(0));
    if (m_state != State::WaitFin) {
        m_finTicks = 0;
    }
    m_state = State::WaitFin;
    Send(out);
}

void TZmodemSender::SendRqInit() {
    std::vector<std::uint8_t> out;
    m_encoder.HexHeader(out, kRqInit, PositionHeader(0));
    Send(out);
}

void TZmodemSender::Repeat() {
    switch (m_state) {
    case State::WaitInit:
        SendRqInit();
        return;
    case State::WaitFilePosition:
        OfferFile();
        return;
    case State::WaitAck:
        if (m_resyncing) {
            SendResync();
            return;
        }
        if (m_frameOpen) {
            // End the open frame so the new header is read as one.
            std::vector<std::uint8_t> out;
            m_encoder.Subpacket(out, nullptr, 0, TSubpacketEnd::CrcE, m_crc32);
            Send(out);
        }
        MoveTo(m_ackedPos);
        Status(status::RewindingTo(m_sendPos));
        SendDataHeader();
        PumpLocked(kBurstBytes);
        return;
    case State::WaitEofAck:
        SendEof();
        return;
    case State::WaitFin:
        SendFin();
        return;
    default:
        return;
    }
}

// ---------------------------------------------------------------- progress and endings

void TZmodemSender::EndBatch() {
    // lrzsz's rz also skips a file it cannot write: the batch did not arrive whole.
    if (m_skipped == 0) {
        End(TTransferOutcome::Completed, status::kComplete);
    } else {
        End(TTransferOutcome::Skipped, status::SkippedByReceiverAtEnd(m_skipped));
    }
}

void TZmodemSender::Send(const std::vector<std::uint8_t>& bytes) {
    if (!m_transportLost && !bytes.empty()) {
        m_port.Send(bytes.data(), bytes.size());
    }
}

void TZmodemSender::ShowProgress() {
    m_port.ShowProgress(m_progress);
}

void TZmodemSender::Status(const std::string& statusText) {
    m_progress.status = statusText;
    ShowProgress();
}

void TZmodemSender::End(TTransferOutcome outcome, const std::string& statusText) {
    m_files.Close();
    m_state = State::Stopped;
    m_frameOpen = false;
    m_progress.status = statusText;
    m_progress.ended = true;
    m_progress.outcome = outcome;
    m_timerInterval = 0;
    m_port.DisableTimer();
    ShowProgress();
    m_port.Alert();
    m_port.EndTransferMode();
}

void TZmodemSender::Abort(TTransferOutcome outcome, const std::string& statusText) {
    Send(kCancelSequence);
    m_port.Cancelled(kCancelSequence);
    End(outcome, statusText);
}

} // namespace telvora
