#include "transfer/zmodem/zmodem_receiver.h"

#include "transfer/zmodem/zmodem_status.h"

#include <algorithm>
#include <climits>

namespace telvora {

using namespace zmodem;
namespace status = zmodem_status;

namespace {

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

// Digits in the base from `at`, skipping blanks before them; nothing when
// there are none or the number overflows.
std::optional<std::uint64_t> ReadNumber(const std::string& text, std::size_t& at, unsigned base) {
    while (at < text.size() && text[at] == ' ') {
        ++at;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] < static_cast<char>('0' + base)) {
        const auto digit = static_cast<std::uint64_t>(text[at] - '0');
        if (value > (UINT64_MAX - digit) / base) {
            return std::nullopt;
        }
        value = value * base + digit;
        ++at;
        ++digits;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return value;
}

// The bytes of lrzsz's attention string that stand for a break and a pause.
constexpr std::uint8_t kAttentionBreak = 0xDD;
constexpr std::uint8_t kAttentionPause = 0xDE;

} // namespace

TZmodemReceiver::TZmodemReceiver(TTransferPort& port, TZmodemFiles& files)
    : m_port(port), m_files(files) {
    m_progress.status = "Idle";
}

TZmodemReceiver::TFileOffer TZmodemReceiver::ParseFileOffer(const std::vector<std::uint8_t>& data) {
    TFileOffer offer;
    const auto nameEnd = std::find(data.begin(), data.end(), std::uint8_t{0});
    offer.name.assign(data.begin(), nameEnd);
    if (nameEnd == data.end()) {
        return offer;
    }
    const std::string info(nameEnd + 1, std::find(nameEnd + 1, data.end(), std::uint8_t{0}));
    std::size_t at = 0;
    offer.length = ReadNumber(info, at, 10);
    if (offer.length) {
        const auto modified = ReadNumber(info, at, 8);
        if (modified && *modified <= static_cast<std::uint64_t>(INT64_MAX)) {
            offer.modified = static_cast<std::int64_t>(*modified);
        }
    }
    return offer;
}

// ---------------------------------------------------------------- operations

void TZmodemReceiver::SetAskExisting(TAskExisting ask) {
    std::lock_guard lock(m_mutex);
    m_ask = std::move(ask);
}

void TZmodemReceiver::Start(const std::string& folder, TExistingFile existing, bool senderBegan) {
    std::lock_guard lock(m_mutex);
    m_files.CloseQuietly();
    m_folder = folder;
    m_existing = existing;
    m_decoder.Reset();
    m_encoder = TZmodemEncoder();
    m_attention.clear();
    m_escapeControls = false;
    m_fileOpen = false;
    m_path.clear();
    m_position = 0;
    m_written = 0;
    m_filesNamed = 0;
    m_mismatches.Clear();
    m_quietTicks = 0;
    m_retries = 0;
    m_transportLost = false;
    m_progress = TTransferProgress{};
    m_state = State::WaitFile;
    m_timerInterval = kTickMs;
    m_port.ArmTimer(kTickMs);
    Status(status::kWaitingForSender);
    try {
        m_files.MakeFolder(folder);
    } catch (const ETransferFileError& failure) {
        Abort(TTransferOutcome::FileError, failure.what());
        return;
    }
    if (!senderBegan) {
        SendRInit();
    }
}

std::size_t TZmodemReceiver::ReceiveChunk(const std::uint8_t* data, std::size_t count) {
    std::lock_guard lock(m_mutex);
    std::size_t taken = 0;
    while (taken < count && m_state != State::Stopped) {
        // Most of a transfer is plain data inside a subpacket: a run of it
        // at once, one byte at a time only where something may happen.
        const std::size_t run = m_decoder.FeedDataRun(data + taken, count - taken);
        if (run > 0) {
            taken += run;
            continue;
        }
        Feed(data[taken]);
        ++taken;
    }
    return taken;
}

void TZmodemReceiver::TimeoutTimer() {
    std::lock_guard lock(m_mutex);
    switch (m_state) {
    case State::Stopped:
    case State::AskExisting: // the user is thinking: no sender waits forever, but we do
        return;
    case State::Finishing:
        if (++m_quietTicks >= kFinishTicks) {
            EndBatch();
        }
        return;
    default:
        break;
    }
    if (++m_quietTicks < kTimeoutTicks) {
        return;
    }
    m_quietTicks = 0;
    AskAgain(true);
}

void TZmodemReceiver::Choose(TExistingFile choice) {
    std::lock_guard lock(m_mutex);
    if (m_state != State::AskExisting) {
        return;
    }
    m_existing = choice == TExistingFile::Ask ? TExistingFile::Skip : choice;
    m_quietTicks = 0;
    try {
        Decide(m_existing);
    } catch (const ETransferFileError& failure) {
        Abort(TTransferOutcome::FileError, failure.what());
    }
}

void TZmodemReceiver::UserCancel() {
    std::lock_guard lock(m_mutex);
    if (m_state == State::Stopped) {
        return;
    }
    Abort(TTransferOutcome::CancelledHere, status::kCancelled);
}

void TZmodemReceiver::TransportLost() {
    std::lock_guard lock(m_mutex);
    m_transportLost = true;
    if (m_state == State::Stopped) {
        return;
    }
    m_files.CloseQuietly();
    // After the sender's ZFIN every file is in: a sender that hangs up
    // without its "OO" (or whose "OO" is lost as its line closes, as a pty
    // may lose what its program wrote last) spoiled nothing.
    if (m_state == State::Finishing) {
        EndBatch();
    } else {
        End(TTransferOutcome::LineLost, status::kConnectionLost);
    }
}

void TZmodemReceiver::LineSilent() {
    std::lock_guard lock(m_mutex);
    switch (m_state) {
    case State::Stopped:
    case State::AskExisting: // the sender waits for our answer, not we for it
        return;
    case State::Finishing: // every file is in: only the "OO" is missing
        EndBatch();
        return;
    default:
        Abort(TTransferOutcome::TimedOut, status::kTimedOut);
        return;
    }
}

TZmodemReceiver::State TZmodemReceiver::RxState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool TZmodemReceiver::Running() const {
    std::lock_guard lock(m_mutex);
    return m_state != State::Stopped;
}

bool TZmodemReceiver::WaitingForChoice() const {
    std::lock_guard lock(m_mutex);
    return m_state == State::AskExisting;
}

TTransferProgress TZmodemReceiver::Progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

std::uint64_t TZmodemReceiver::BytesWritten() const {
    std::lock_guard lock(m_mutex);
    return m_written;
}

int TZmodemReceiver::TimerInterval() const {
    std::lock_guard lock(m_mutex);
    return m_timerInterval;
}

// ---------------------------------------------------------------- bytes

void TZmodemReceiver::Feed(std::uint8_t byte) {
    if (m_state == State::Finishing && byte == 'O') {
        if (++m_finishOs >= 2) {
            EndBatch();
        }
        return;
    }
    const TZmodemEvent event = m_decoder.Feed(byte);
    try {
        switch (event.kind) {
        case TZmodemEvent::Kind::None:
            return;
        case TZmodemEvent::Kind::Cancel:
            m_files.CloseQuietly();
            End(TTransferOutcome::CancelledByPeer, status::kCancelledByPeer);
            return;
        case TZmodemEvent::Kind::Header:
            OnHeader(event);
            return;
        case TZmodemEvent::Kind::Subpacket:
            OnSubpacket(event);
            return;
        case TZmodemEvent::Kind::BadHeader:
        case TZmodemEvent::Kind::BadSubpacket:
            OnDamage();
            return;
        }
    } catch (const ETransferFileError& failure) {
        Abort(TTransferOutcome::FileError, failure.what());
    }
}

void TZmodemReceiver::OnHeader(const TZmodemEvent& event) {
    m_quietTicks = 0;
    m_frame = event.type;
    m_frameFlags = event.bytes[kF0];
    switch (event.type) {
    case kRqInit:
        if (m_state == State::WaitFile) {
            SendRInit();
        }
        return;
    case kFin:
        OnFinish();
        return;
    case kCancel:
    case kAbort:
    case kFErr:
        m_files.CloseQuietly();
        if (event.type == kAbort) {
            SendHex(kFin, PositionHeader(0));
        }
        End(TTransferOutcome::CancelledByPeer, status::kCancelledByPeer);
        return;
    case kData:
        OnDataHeader(HeaderPosition(event.bytes));
        return;
    case kEof:
        OnEndOfFile(HeaderPosition(event.bytes));
        return;
    default:
        // ZFILE and ZSINIT act on their subpacket; the rest means nothing
        // to a receiver.
        return;
    }
}

void TZmodemReceiver::OnSubpacket(const TZmodemEvent& event) {
    m_quietTicks = 0;
    switch (m_frame) {
    case kSInit: {
        const auto& data = m_decoder.Data();
        const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
        m_attention.assign(data.begin(), data.begin() + std::min<std::ptrdiff_t>(end - data.begin(),
                                                                                 kMaxAttention));
        m_escapeControls = (m_frameFlags & kSenderEscapesControls) != 0;
        m_encoder.SetEscapeControls(m_escapeControls);
        SendHex(kAck, PositionHeader(1));
        return;
    }
    case kFile:
        if (m_state == State::WaitFile || m_state == State::WaitData || m_state == State::Data) {
            OnFileOffer();
        }
        return;
    case kData:
        if (m_state == State::Data) {
            OnData(event);
        }
        return;
    default:
        return;
    }
}

void TZmodemReceiver::OnDamage() {
    ++m_progress.errorCount;
    switch (m_state) {
    case State::WaitFile:
        // The sender repeats a ZFILE or ZSINIT at once on a ZNAK.
        if (CountRetry(false)) {
            SendHex(kNak, PositionHeader(0));
        }
        return;
    case State::WaitData:
    case State::Data:
        Resync(false);
        return;
    default:
        ShowProgress();
        return;
    }
}

void TZmodemReceiver::OnFileOffer() {
    TFileOffer offer = ParseFileOffer(m_decoder.Data());
    if (m_fileOpen) {
        if (offer.name == m_offer.name) {
            // Our ZRPOS was lost: the sender offers the same file again.
            SendPosition(kRPos);
            return;
        }
        m_files.CloseQuietly();
        m_fileOpen = false;
    }
    m_offer = std::move(offer);
    m_path = JoinPath(m_folder, BatchFileName(m_offer.name, ++m_filesNamed));
    m_progress.fileName = m_path;
    m_progress.totalBytes = m_offer.length ? static_cast<std::int64_t>(*m_offer.length) : -1;
    m_progress.bytes = 0;
    m_progress.blocks = 0;
    if (!m_files.Exists(m_path)) {
        m_files.Create(m_path);
        StartFileAt(0);
        return;
    }
    if (m_existing != TExistingFile::Ask) {
        Decide(m_existing);
        return;
    }
    m_state = State::AskExisting;
    Status(status::ExistsAsk(m_path));
    if (m_ask) {
        m_ask(m_path);
    }
}

void TZmodemReceiver::Decide(TExistingFile choice) {
    if ((choice == TExistingFile::Resume || choice == TExistingFile::Overwrite) &&
        !m_files.IsPlainFile(m_path)) {
        // A link, FIFO or folder someone left under the name: what it leads
        // to is not the sender's to extend or replace.
        choice = TExistingFile::Rename;
    }
    switch (choice) {
    case TExistingFile::Resume: {
        const std::uint64_t have = m_files.Length(m_path);
        if (m_offer.length && have >= *m_offer.length) {
            SkipFile(status::kSkippedComplete);
            return;
        }
        if (have > UINT32_MAX) {
            // A ZRPOS holds 32 bits: the sender would go on from the wrong place.
            Decide(TExistingFile::Rename);
            return;
        }
        m_files.OpenForAppend(m_path);
        StartFileAt(have);
        Status(status::ResumingAt(have));
        return;
    }
    case TExistingFile::Overwrite:
        m_files.Create(m_path);
        StartFileAt(0);
        return;
    case TExistingFile::Rename:
        m_path = FreeName(m_path);
        m_progress.fileName = m_path;
        m_files.Create(m_path);
        StartFileAt(0);
        return;
    case TExistingFile::Ask:
    case TExistingFile::Skip:
        SkipFile(status::kSkippedExists);
        return;
    }
}

std::string TZmodemReceiver::FreeName(const std::string& path) {
    const std::size_t nameStart = path.find_last_of('/') + 1; // 0 without a folder
    const std::string folder = path.substr(0, nameStart);
    const std::string name = path.substr(nameStart);
    // A name at the length limit, given a suffix, is cut to keep within it:
    // a longer one could not be made.
    const auto candidate = [&](int number) {
        return folder + NameWithSuffix(name, "." + std::to_string(number));
    };
    for (int number = 1; number <= kMaxRenames; ++number) {
        if (!m_files.Exists(candidate(number))) {
            return candidate(number);
        }
    }
    ThrowFileError("create", candidate(1), EEXIST);
}

void TZmodemReceiver::StartFileAt(std::uint64_t position) {
    m_fileOpen = true;
    m_position = position;
    m_progress.bytes = static_cast<std::int64_t>(position);
    m_state = State::WaitData;
    m_retries = 0;
    Status(status::kReceiving);
    SendPosition(kRPos);
}

void TZmodemReceiver::SkipFile(const std::string& statusText) {
    m_fileOpen = false;
    m_state = State::WaitFile;
    Status(statusText);
    SendHex(kSkip, PositionHeader(0));
}

void TZmodemReceiver::OnDataHeader(std::uint32_t position) {
    if (m_state != State::WaitData && m_state != State::Data) {
        m_decoder.HuntHeader();
        return;
    }
    if (position != static_cast<std::uint32_t>(m_position)) {
        m_decoder.HuntHeader();
        ++m_progress.errorCount;
        Resync(false);
        return;
    }
    m_state = State::Data;
}

void TZmodemReceiver::OnData(const TZmodemEvent& event) {
    const auto& data = m_decoder.Data();
    if (!data.empty()) {
        m_files.Append(data.data(), data.size());
    }
    m_position += data.size();
    m_written += data.size();
    m_retries = 0;
    m_progress.bytes = static_cast<std::int64_t>(m_position);
    ++m_progress.blocks;
    if (m_progress.status != status::kReceiving) {
        m_progress.status = status::kReceiving;
    }
    ShowProgress();
    switch (event.end) {
    case TSubpacketEnd::CrcW:
        m_state = State::WaitData;
        SendPosition(kAck);
        return;
    case TSubpacketEnd::CrcQ:
        SendPosition(kAck);
        return;
    case TSubpacketEnd::CrcE:
        m_state = State::WaitData;
        return;
    case TSubpacketEnd::CrcG:
        return;
    }
}

void TZmodemReceiver::OnEndOfFile(std::uint32_t position) {
    if (m_state == State::WaitFile) {
        // Our ZRINIT after the file was lost; the sender repeats its ZEOF.
        SendRInit();
        return;
    }
    if (m_state != State::WaitData && m_state != State::Data) {
        return;
    }
    if (position != static_cast<std::uint32_t>(m_position)) {
        // Data is missing at the end (the ZRPOS for it was lost): ask again.
        ++m_progress.errorCount;
        Resync(false);
        return;
    }
    CloseFile();
    if (!m_files.IsPlainFile(m_path)) {
        Abort(TTransferOutcome::FileError, "File lost: " + m_path);
        return;
    }
    // A resumed file is measured with what it had: the whole file's length was announced.
    if (m_offer.length && m_position != *m_offer.length) {
        m_mismatches.Note(m_path.substr(m_path.find_last_of('/') + 1), m_position, *m_offer.length);
    }
    m_state = State::WaitFile;
    SendRInit();
}

void TZmodemReceiver::CloseFile() {
    m_fileOpen = false;
    m_files.Close();
    if (m_offer.modified > 0) {
        try {
            m_files.SetModified(m_path, m_offer.modified);
        } catch (const ETransferFileError&) {
            // The data is whole; a file system that keeps no dates is no reason to fail.
        }
    }
}

void TZmodemReceiver::OnFinish() {
    const bool midFile = m_fileOpen;
    if (midFile) {
        m_files.CloseQuietly();
        m_fileOpen = false;
    }
    SendHex(kFin, PositionHeader(0));
    if (midFile) {
        End(TTransferOutcome::CancelledByPeer, status::kCancelledByPeer);
        return;
    }
    if (m_state != State::Finishing) {
        m_state = State::Finishing;
        m_finishOs = 0;
        m_quietTicks = 0;
        m_timerInterval = kTickMs;
        m_port.ArmTimer(kTickMs); // the tick that ends the wait comes a whole interval later
    }
}

// ---------------------------------------------------------------- answers

void TZmodemReceiver::AskAgain(bool timedOut) {
    switch (m_state) {
    case State::WaitFile:
        if (CountRetry(timedOut)) {
            SendRInit();
        }
        return;
    case State::WaitData:
    case State::Data:
        Resync(timedOut);
        return;
    default:
        return;
    }
}

bool TZmodemReceiver::CountRetry(bool timedOut) {
    if (++m_retries > kMaxRetries) {
        m_files.CloseQuietly();
        if (timedOut) {
            Abort(TTransferOutcome::TimedOut, status::kTimedOut);
        } else {
            Abort(TTransferOutcome::ProtocolError, status::kTooManyErrors);
        }
        return false;
    }
    return true;
}

void TZmodemReceiver::Resync(bool timedOut) {
    if (!CountRetry(timedOut)) {
        return;
    }
    m_decoder.HuntHeader();
    m_state = State::WaitData;
    Status(timedOut ? status::kTimedOut : status::kRetrying);
    SendAttention();
    SendPosition(kRPos);
}

void TZmodemReceiver::SendRInit() {
    THeaderBytes bytes{}; // a buffer size of 0: the sender may stream
    bytes[kF0] = kCanFullDuplex | kCanOverlapIo | kCanCrc32;
    if (m_escapeControls) {
        bytes[kF0] |= kEscapeControls;
    }
    SendHex(kRInit, bytes);
}

void TZmodemReceiver::SendPosition(TFrameType type) {
    SendHex(type, PositionHeader(static_cast<std::uint32_t>(m_position)));
}

void TZmodemReceiver::SendHex(TFrameType type, const THeaderBytes& bytes) {
    std::vector<std::uint8_t> out;
    m_encoder.HexHeader(out, type, bytes);
    Send(out);
}

void TZmodemReceiver::SendAttention() {
    std::vector<std::uint8_t> out;
    for (std::uint8_t byte : m_attention) {
        if (byte != kAttentionBreak && byte != kAttentionPause) {
            out.push_back(byte);
        }
    }
    Send(out);
}

void TZmodemReceiver::SendCancel() {
    Send(kCancelSequence);
}

void TZmodemReceiver::Send(const std::vector<std::uint8_t>& bytes) {
    if (!m_transportLost && !bytes.empty()) {
        m_port.Send(bytes.data(), bytes.size());
    }
}

// ---------------------------------------------------------------- progress and endings

void TZmodemReceiver::ShowProgress() {
    m_port.ShowProgress(m_progress);
}

void TZmodemReceiver::Status(const std::string& statusText) {
    m_progress.status = statusText;
    ShowProgress();
}

void TZmodemReceiver::End(TTransferOutcome outcome, const std::string& statusText) {
    m_state = State::Stopped;
    m_fileOpen = false;
    m_progress.status = statusText;
    m_progress.ended = true;
    m_progress.outcome = outcome;
    m_timerInterval = 0;
    m_port.DisableTimer();
    ShowProgress();
    m_port.Alert();
    m_port.EndTransferMode();
}

void TZmodemReceiver::EndBatch() {
    if (m_mismatches.Any()) {
        End(TTransferOutcome::ProtocolError, m_mismatches.Summary());
    } else {
        End(TTransferOutcome::Completed, status::kComplete);
    }
}

void TZmodemReceiver::Abort(TTransferOutcome outcome, const std::string& statusText) {
    m_files.CloseQuietly();
    SendCancel();
    m_port.Cancelled(kCancelSequence);
    End(outcome, statusText);
}

} // namespace telvora
