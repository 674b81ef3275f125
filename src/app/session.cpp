#include "app/session.h"

#include "app/login_line_watch.h"
#include "app/zmodem_start_watch.h"
#include "common/qt_text.h"
#include "common/text_helpers.h"
#include "common/whole_file.h"
#include "connection/byte_sender.h"
#include "connection/live_connection.h"
#include "connection/play_atascii.h"
#include "connection/serial_connection.h"
#include "connection/telnet.h"
#include "directory/qt_settings_store.h"
#include "screen/atascii_text.h"
#include "screen/cell_geometry.h"
#include "screen/history_movie.h"
#include "screen/row_text.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <thread>

namespace telvora {

TSession::TSession(QObject* parent)
    : QObject(parent), m_downloadFolder(FileNameToSystem(
                           QStandardPaths::writableLocation(QStandardPaths::DownloadLocation))) {
    // The Atari's own 40 columns until an XEP80's 80 are asked for.
    m_screen->WithModel([](telvora::ScreenModel& model) { model.SetColumns(kNarrowColumns); });
    connect(&m_statusMonitor, &TMenuStatus::Shown, this, &TSession::StatusChanged);
    connect(&m_typist, &TTypist::Progress, this, &TSession::TypingProgress);
    connect(&m_typist, &TTypist::Ended, this, &TSession::TypingEnded);
}

TSession::~TSession() {
    ShutDown();
}

TConnectionThread* TSession::RunningConnection() const {
    if (m_player) {
        return m_player;
    }
    if (m_serialConn) {
        return m_serialConn;
    }
    return m_telnetConn;
}

TLiveConnection* TSession::LiveConnection() const {
    // Telnet first, then serial; at most one of them runs.
    for (TConnectionThread* connection : {m_telnetConn.data(), m_serialConn.data()}) {
        if (auto* line = qobject_cast<TLiveConnection*>(connection)) {
            return line;
        }
    }
    return nullptr;
}

bool TSession::LineUp() const {
    const TLiveConnection* line = LiveConnection();
    return line != nullptr && line->LineUp();
}

int TSession::LiveConnections() const {
    return static_cast<int>(std::count_if(
        m_liveThreads.begin(), m_liveThreads.end(),
        [](const QPointer<TConnectionThread>& live) { return live && !live->isFinished(); }));
}

QPointer<TConnectionThread>& TSession::SlotFor(Kind kind) {
    switch (kind) {
    case Kind::Movie:
        return m_player;
    case Kind::Serial:
        return m_serialConn;
    case Kind::Telnet:
    case Kind::Raw:
        break;
    }
    // Raw TCP is a TCP line like Telnet, with the same entries.
    return m_telnetConn;
}

bool TSession::PlayMovie(const std::string& systemPath) {
    try {
        return StartConnection(Kind::Movie, [&] {
            auto* player = new TPlayAtascii(systemPath, m_speed, m_screen);
            player->Start();
            return player;
        });
    } catch (const std::exception& error) {
        Q_EMIT Notice(FromUtf8(error.what()));
        return false;
    }
}

bool TSession::ConnectTelnet(const std::string& host, const std::string& port,
                             TLineProtocol protocol) {
    const std::string service = port.empty() ? "23" : port;
    const Kind kind = protocol == TLineProtocol::Raw ? Kind::Raw : Kind::Telnet;
    return StartConnection(kind, [&] {
        auto* telnet =
            new TTelnet(host, service, m_speed, m_screen, m_capture, m_hostLookup, protocol);
        telnet->SetRecording(m_recording);
        telnet->SetConnectTimeout(m_connectTimeout);
        if (m_addressLookup != nullptr) {
            telnet->SetHostAddressLookup(m_addressLookup);
        }
        telnet->Start(QThread::LowPriority);
        return telnet;
    });
}

bool TSession::ConnectToHost(const THostRow& entry, const std::string& password) {
    return Call(entry, password, TCalled::Entry);
}

bool TSession::CallAddress(const THostRow& address) {
    return Call(address, {}, TCalled::Address);
}

bool TSession::Call(const THostRow& entry, const std::string& password, TCalled called) {
    // Blanks alone are no host; the name itself goes on as the directory holds it.
    if (TrimBlanks(entry.HostName).empty() || !CanStart()) {
        return false;
    }
    // An entry brings its own width (the connection clears the screen
    // anyway), Escape setting and connect timeout; an address is called as
    // the session is set.
    const bool serial = THostDirectory::IsSerialLine(entry.Protocol);
    if (called == TCalled::Entry) {
        SetColumns(entry.Columns);
        SetEscapeShowsControls(entry.EscapeShowsControls);
        if (!serial) {
            SetConnectTimeout(std::chrono::seconds(entry.ConnectTimeout));
        }
    }
    m_lastEntry = entry;
    m_lastPassword = password;
    m_lastCalled = called;
    m_loginLine = nullptr;
    m_loginWatch.reset();
    if (!entry.UserName.empty()) {
        m_loginWatch = std::make_shared<TLoginWatch>(ParseLoginSteps(entry.LoginSteps),
                                                     entry.UserName, password);
    }
    const bool started = serial ? ConnectSerialEntry(entry) : ConnectNetworkEntry(entry);
    if (!started) {
        m_loginWatch.reset();
        return false;
    }
    CountCall(entry);
    return true;
}

bool TSession::ConnectNetworkEntry(const THostRow& entry) {
    const bool started = ConnectTelnet(
        entry.HostName, entry.Port,
        entry.Protocol == THostProtocol::Raw ? TLineProtocol::Raw : TLineProtocol::Telnet);
    if (auto* telnet = qobject_cast<TTelnet*>(m_telnetConn.data()); started && telnet != nullptr) {
        connect(telnet, &TTelnet::RawPeerSeen, this, [this, telnet] { RawPeerSeen(telnet); });
    }
    return started;
}

TSettingsStore& TSession::DirectoryStore() {
    if (m_directoryStore == nullptr) {
        m_ownDirectoryStore = std::make_unique<TQtSettingsStore>();
        m_directoryStore = m_ownDirectoryStore.get();
    }
    return *m_directoryStore;
}

void TSession::CountCall(const THostRow& entry) {
    // An address (the command line's telnet://USER@HOST) has no entry.
    if (entry.Description.empty()) {
        return;
    }
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    THostDirectory directory(DirectoryStore());
    if (directory.RecordCall(entry.Description, ToUtf8(now))) {
        ++m_lastEntry.Calls;
        m_lastEntry.LastCall = ToUtf8(now);
    }
}

bool TSession::Redial() {
    if (!CanRedial()) {
        return false;
    }
    const THostRow entry = m_lastEntry;
    const std::string password = m_lastPassword;
    return Call(entry, password, m_lastCalled);
}

bool TSession::SendLogin() {
    if (m_lastEntry.UserName.empty() || !LineUp()) {
        return false;
    }
    std::vector<std::uint8_t> codes(m_lastEntry.UserName.begin(), m_lastEntry.UserName.end());
    codes.push_back(atascii::kEndOfLine);
    if (!m_lastPassword.empty()) {
        codes.insert(codes.end(), m_lastPassword.begin(), m_lastPassword.end());
        codes.push_back(atascii::kEndOfLine);
    }
    return TypeCodes(std::move(codes));
}

void TSession::RawPeerSeen(TConnectionThread* connection) {
    if (connection != m_telnetConn.data() || m_lastEntry.Protocol != THostProtocol::Telnet ||
        m_lastEntry.RawOffered || m_lastEntry.Description.empty()) {
        return;
    }
    // Asked outside the socket's own step: the answer may start a new call.
    const QString name = FromUtf8(m_lastEntry.Description);
    QMetaObject::invokeMethod(
        this, [this, name] { Q_EMIT RawPeerOffered(name); }, Qt::QueuedConnection);
}

void TSession::AnswerRawPeerOffer(bool switchToRaw) {
    m_lastEntry.RawOffered = true;
    if (switchToRaw) {
        m_lastEntry.Protocol = THostProtocol::Raw;
    }
    THostDirectory directory(DirectoryStore());
    directory.ChangeEntry(m_lastEntry);
    if (switchToRaw) {
        Redial();
    }
}

bool TSession::ConnectSerialEntry(const THostRow& entry) {
    // The entry keeps its own line settings; the session's stay for the next attach.
    const TSerialSettings settings =
        ParseStoredSerialSettings(entry.Port).value_or(TSerialSettings{});
    std::optional<TModemSettings> modem;
    if (entry.Protocol == THostProtocol::Modem) {
        modem = entry.Modem;
    }
    return StartSerial(entry.HostName, settings, modem);
}

bool TSession::AttachSerial(const std::string& device) {
    return StartSerial(device, m_serialSettings, std::nullopt);
}

bool TSession::DialModem(const std::string& device, const TModemSettings& modem) {
    return StartSerial(device, m_serialSettings, modem);
}

bool TSession::StartSerial(const std::string& device, const TSerialSettings& settings,
                           const std::optional<TModemSettings>& modem) {
    return StartConnection(Kind::Serial, [&] {
        auto* serial = new TSerialConnection(device, settings, m_speed, m_screen);
        serial->SetRecording(m_recording);
        if (modem) {
            serial->SetModem(*modem);
        }
        serial->Start();
        return serial;
    });
}

void TSession::SetSerialSettings(const TSerialSettings& settings) {
    m_serialSettings = settings;
    Q_EMIT Changed();
}

bool TSession::SetModemCommandMode(bool on) {
    auto* serial = qobject_cast<TSerialConnection*>(m_serialConn.data());
    if (serial == nullptr) {
        return false;
    }
    serial->SetCommandMode(on);
    Q_EMIT Changed();
    return true;
}

bool TSession::ModemCommandMode() const {
    const auto* serial = qobject_cast<const TSerialConnection*>(m_serialConn.data());
    return serial != nullptr && serial->CommandMode();
}

bool TSession::StartConnection(Kind kind, const std::function<TConnectionThread*()>& create) {
    // A start that arrives while a stop is under way (from a dialog that was
    // open meanwhile) would leave a connection nobody knows of.
    if (!CanStart()) {
        return false;
    }
    StopConnection();
    if (kind == Kind::Serial) {
        // Also the line just stopped: a modem's hang-up outlasts the stop.
        const QScopedValueRollback stopping(m_stopping, true);
        WaitForStoppedLines();
    }
    ClearTerminal();
    TConnectionThread* connection = create();
    if (connection == nullptr) {
        return false;
    }
    Register(kind, connection);
    return true;
}

void TSession::Register(Kind kind, TConnectionThread* connection) {
    SlotFor(kind) = connection;
    std::erase_if(m_liveThreads, [](const QPointer<TConnectionThread>& live) { return !live; });
    m_liveThreads.emplace_back(connection);
    connect(connection, &TConnectionThread::Ended, this, &TSession::ConnectionGone);
    connect(connection, &TConnectionThread::LineCameUp, this, &TSession::ConnectionLineUp);
    connect(connection, &TConnectionThread::Notice, this,
            [this](TConnectionThread*, const QString& text) { ConnectionNotice(text); });
    m_statusMonitor.SetConnection(connection);
    if (auto* line = qobject_cast<TLiveConnection*>(connection)) {
        WatchForRemoteSends(line);
    }
    Q_EMIT Changed();
    Q_EMIT Started(kind);
}

void TSession::ConnectionLineUp(TConnectionThread* connection) {
    if (connection == LiveConnection()) {
        // A modem's CONNECT has also ended its command mode.
        Q_EMIT Changed();
        Q_EMIT LineCameUp();
    }
}

void TSession::ConnectionGone(TConnectionThread* connection) {
    if (connection == LiveConnection()) {
        m_typist.Stop();
    }
    // A transfer over this line stops sending to it before it goes.
    if (m_run && m_runLine.data() == connection) {
        LoseTransferLine();
    }
    // A connection that ends late must not disturb one started meanwhile.
    m_statusMonitor.ClearConnection(connection);
    for (QPointer<TConnectionThread>* slot : {&m_player, &m_serialConn, &m_telnetConn}) {
        if (*slot == connection) {
            *slot = nullptr;
        }
    }
    // Kept until it is gone: its thread may still be finishing, and a
    // shutdown before its own deletion must wait for it and delete it.
    std::erase_if(m_liveThreads, [](const QPointer<TConnectionThread>& live) { return !live; });
    m_lastConnectionFailed = connection->EndedInFailure();
    Q_EMIT Changed();
    const QString message = connection->EndMessage();
    // Told after the thread's last step, which must not wait for the user;
    // queued before a receiver of Ended can queue anything of its own.
    if (!message.isEmpty()) {
        NoticeLater(message, !connection->EndedInFailure());
    }
    Q_EMIT Ended(message, connection->EndedInFailure());
}

void TSession::ConnectionNotice(const QString& text) {
    // A recording that failed has stopped: its entry says so.
    Q_EMIT Changed();
    NoticeLater(text);
}

void TSession::NoticeLater(const QString& text, bool information) {
    m_later.Post([this, text, information] { Q_EMIT Notice(text, information); });
}

void TSession::StopOne(QPointer<TConnectionThread>& slot) {
    if (!slot) {
        return;
    }
    const QPointer<TConnectionThread> stopped = slot;
    stopped->RequestStop();
    WaitAndPump();
    // The slot may meanwhile hold another connection; only this one is forgotten.
    if (slot == stopped) {
        slot = nullptr;
    }
}

void TSession::StopConnection() {
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    Q_EMIT Changed();
    StopOne(m_player);
    StopOne(m_serialConn);
    StopOne(m_telnetConn);
    m_statusMonitor.SetConnection(nullptr);
    m_stopping = false;
    Q_EMIT Changed();
}

void TSession::WaitForStoppedLines() {
    // A serial line stopped a moment ago may still be hanging its modem up and
    // holding its port exclusively; the next line would find the port busy.
    QElapsedTimer timer;
    timer.start();
    while (LiveConnections() > 0 && timer.elapsed() < kShutDownTimeoutMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitAndPumpSleepMs));
        QCoreApplication::processEvents();
    }
}

void TSession::WaitAndPump() {
    // About one second in which the program stays responsive, so that the
    // ending thread's last steps, which run on this thread, can be carried out.
    for (int i = 0; i < kWaitAndPumpRounds; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitAndPumpSleepMs));
        QCoreApplication::processEvents();
    }
}

void TSession::SetAutoZmodem(bool on) {
    m_autoZmodem = on;
    if (TLiveConnection* line = LiveConnection()) {
        WatchForRemoteSends(line);
    }
    Q_EMIT Changed();
}

void TSession::WatchForRemoteSends(TLiveConnection* line) {
    // Found on the line's thread, told on this one; a line gone meanwhile
    // takes nothing.
    const QPointer<TLiveConnection> watched = line;
    std::shared_ptr<TTransferStartWatch> watch;
    if (m_autoZmodem) {
        watch = std::make_shared<TZmodemStartWatch>([this, watched] {
            m_later.Post([this, watched] {
                if (watched && watched == LiveConnection()) {
                    RemoteSendStarted();
                }
            });
        });
    }
    if (m_loginWatch && !m_loginLine) {
        m_loginLine = line;
    }
    if (m_loginWatch && m_loginLine == line) {
        watch = std::make_shared<TLoginLineWatch>(
            std::move(watch), m_loginWatch, [this, watched](std::vector<std::uint8_t> codes) {
                m_later.Post([this, watched, codes = std::move(codes)] {
                    if (watched && watched == LiveConnection()) {
                        m_typist.Append(codes);
                    }
                });
            });
    }
    line->SetStartWatch(std::move(watch));
}

void TSession::ClearTerminal() {
    m_screen->WriteByte(atascii::kClearScreen);
}

void TSession::SetSpeed(int speed) {
    m_speed = speed;
    for (TConnectionThread* connection :
         {m_player.data(), m_serialConn.data(), m_telnetConn.data()}) {
        if (connection != nullptr) {
            connection->SetSpeed(m_speed);
        }
    }
    Q_EMIT Changed();
}

void TSession::SetTelnetFilter(bool on) {
    m_telnetFilter = on;
    Q_EMIT Changed();
}

void TSession::SetEscapeShowsControls(bool on) {
    m_screen->WithModel([on](telvora::ScreenModel& model) { model.SetEscapeShowsControls(on); });
    Q_EMIT Changed();
}

bool TSession::SetColumns(int columns) {
    if (columns != kNarrowColumns && columns != kWideColumns) {
        return false;
    }
    if (columns != Columns()) {
        ClearTerminal();
        m_screen->WithModel([columns](telvora::ScreenModel& model) { model.SetColumns(columns); });
        m_screen->Changed();
        Q_EMIT Changed();
    }
    return true;
}

int TSession::Columns() const {
    return m_screen->Columns();
}

bool TSession::EscapeShowsControls() const {
    return m_screen->WithModel(
        [](const telvora::ScreenModel& model) { return model.EscapeShowsControls(); });
}

bool TSession::SendTextFile(const std::string& path) {
    std::string bytes;
    try {
        bytes = ReadWholeFile(path);
    } catch (const std::exception& failure) {
        Q_EMIT Notice(FromUtf8(failure.what()));
        return false;
    }
    TextAsAtascii mapped = FileAsAtascii(bytes);
    return TypeCodes(std::move(mapped.codes), static_cast<int>(mapped.skipped));
}

bool TSession::SaveScrollback(const std::string& path, SaveAs form) {
    const auto rows = m_screen->HistoryAndScreenRows();
    const bool movie = form == SaveAs::ByName
                           ? QFileInfo(FileNameFromSystem(path))
                                     .suffix()
                                     .compare(QStringLiteral("ata"), Qt::CaseInsensitive) == 0
                           : form == SaveAs::Movie;
    std::string bytes;
    if (movie) {
        const std::vector<std::uint8_t> codes = RowsToMovie(rows, Columns());
        bytes.assign(codes.begin(), codes.end());
    } else {
        bytes = RowsAsText(rows);
    }
    try {
        WriteWholeFile(path, bytes);
    } catch (const std::exception& failure) {
        Q_EMIT Notice(FromUtf8(failure.what()));
        return false;
    }
    return true;
}

bool TSession::SendKey(std::uint8_t code) {
    if (m_stopping) {
        return false;
    }
    // Telnet first, then serial; at most one of them runs.
    for (TConnectionThread* connection : {m_telnetConn.data(), m_serialConn.data()}) {
        if (auto* line = dynamic_cast<TByteSender*>(connection)) {
            try {
                line->SendByte(code);
            } catch (const std::exception& failure) {
                Q_EMIT Notice(QStringLiteral("Cannot send - ") + FromUtf8(failure.what()));
                return false;
            }
            return true;
        }
    }
    return false;
}

bool TSession::TypeCodes(std::vector<std::uint8_t> codes, int skipped) {
    if (LiveConnection() == nullptr || m_shutDown) {
        return false;
    }
    m_typist.Type(std::move(codes), skipped);
    return true;
}

bool TSession::StartTransfer(const TTransferRequest& request) {
    TLiveConnection* line = LiveConnection();
    if (line == nullptr || InTransfer() || m_stopping || m_shutDown) {
        return false;
    }
    // Reserved first: what the line brings while the machine starts (a
    // board's ZMODEM start included) is kept for it.
    line->Hold();
    // The last transfer's machine has ended; its thread goes with it.
    m_run.reset();
    m_runLine = nullptr;
    try {
        auto run = std::make_shared<TTransferRun>(
            *line, static_cast<TTransferRun::TObserver&>(*this),
            [&](TTransferPort& port) { return m_machineMaker(request, port); });
        run->Start();
        m_run = std::move(run);
        m_runLine = line;
    } catch (const std::exception& failure) {
        line->DeclineHeld();
        Q_EMIT Notice(FromUtf8(failure.what()));
        return false;
    }
    m_endTold = false;
    line->SetTransferMode(true, m_telnetFilter, m_run);
    Q_EMIT TransferStarted(request);
    Q_EMIT Changed();
    return true;
}

void TSession::CancelTransfer() {
    if (m_run) {
        m_run->Cancel();
        // What the cancel changed shows at once.
        TakeTransferNews();
    }
}

void TSession::AnswerExisting(TExistingFile choice) {
    if (m_run) {
        m_run->Answer(choice);
    }
}

void TSession::TransferNews() {
    // Once until taken: progress comes with every block.
    if (!m_newsPosted.exchange(true)) {
        m_later.Post([this] { TakeTransferNews(); });
    }
}

void TSession::TakeTransferNews() {
    m_newsPosted = false;
    if (!m_run) {
        return;
    }
    // Kept alive here: a slot may start the next transfer.
    const std::shared_ptr<TTransferRun> run = m_run;
    TTransferRun::TNews news = run->TakeNews();
    if (news.progress) {
        Q_EMIT TransferProgress(*news.progress);
    }
    for (int i = 0; i < news.alerts; ++i) {
        Q_EMIT TransferAlert();
    }
    if (news.question) {
        Q_EMIT TransferAsks(FileNameFromSystem(*news.question));
    }
    if (news.lineBack && !m_endTold && run == m_run) {
        m_endTold = true;
        GiveLineBack();
        Q_EMIT Changed();
        Q_EMIT TransferEnded(run->Progress().outcome);
    }
}

void TSession::GiveLineBack() {
    if (m_runLine) {
        m_runLine->SetTransferMode(false, m_telnetFilter);
    }
}

void TSession::LoseTransferLine() {
    if (!m_run) {
        return;
    }
    // The machine ends "Connection lost" and says so before anything else
    // the line's end brings.
    m_run->LineLost();
    m_runLine = nullptr;
    TakeTransferNews();
}

void TSession::RemoteSendStarted() {
    // One transfer at a time: with another one running, or when this one
    // cannot begin (or auto-start went off since the start was found), what
    // the line held goes to the screen.
    TTransferRequest request;
    request.kind = TTransferKind::ReceiveZmodem;
    request.where = m_downloadFolder;
    request.existing = m_existing;
    request.senderBegan = true;
    // A download that cannot begin gives the held bytes to the screen itself.
    if (m_autoZmodem && !InTransfer()) {
        StartTransfer(request);
        return;
    }
    TLiveConnection* line = LiveConnection();
    if (line != nullptr && !(InTransfer() && line == m_runLine)) {
        line->DeclineHeld();
    }
}

QString TSession::CapturePath() {
    return QDir::homePath() + QStringLiteral("/capture");
}

bool TSession::StartCapture() {
    const bool started = OpenSessionFile(*m_capture, FileNameToSystem(CapturePath()));
    Q_EMIT Changed();
    return started;
}

void TSession::StopCapture() {
    CloseSessionFile(*m_capture);
    Q_EMIT Changed();
}

bool TSession::StartRecording(const std::string& path) {
    const bool started = OpenSessionFile(*m_recording, path);
    Q_EMIT Changed();
    return started;
}

void TSession::StopRecording() {
    CloseSessionFile(*m_recording);
    Q_EMIT Changed();
}

bool TSession::OpenSessionFile(TCaptureFile& file, const std::string& path) {
    try {
        file.Open(path);
        return true;
    } catch (const ECaptureError& failure) {
        Q_EMIT Notice(FromUtf8(failure.what()));
        return false;
    }
}

void TSession::CloseSessionFile(TCaptureFile& file) {
    try {
        file.Close();
    } catch (const ECaptureError& failure) {
        Q_EMIT Notice(FromUtf8(failure.what()));
    }
}

void TSession::ShutDown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    m_typist.Stop();
    // A running transfer stops sending to a line that is about to go.
    LoseTransferLine();
    m_run.reset();
    ShutDownConnections();
    m_statusMonitor.Stop();
    m_later.ShutDown();
    Q_EMIT Changed();
}

void TSession::ShutDownConnections() {
    // Refused from now on, every thread's steps on this thread are skipped,
    // so waiting for the threads needs no event processing and cannot
    // deadlock with a thread that wants this one.
    for (const QPointer<TConnectionThread>& live : m_liveThreads) {
        if (live) {
            disconnect(live, nullptr, this, nullptr);
            live->ShutDown();
        }
    }
    QElapsedTimer timer;
    timer.start();
    for (const QPointer<TConnectionThread>& live : m_liveThreads) {
        if (!live) {
            continue;
        }
        const auto left = std::max<qint64>(kShutDownTimeoutMs - timer.elapsed(), 0);
        if (live->wait(QDeadlineTimer(left))) {
            delete live.data();
        }
        // Otherwise the thread is busy in a call that cannot be interrupted;
        // it touches nothing of the session any more and releases itself.
    }
    m_liveThreads.clear();
    m_player = nullptr;
    m_serialConn = nullptr;
    m_telnetConn = nullptr;
    m_statusMonitor.SetConnection(nullptr);
}

} // namespace telvora
