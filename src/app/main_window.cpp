#include "app/main_window.h"

#include "app/about_box.h"
#include "app/links.h"
#include "app/menu_status.h"
#include "app/menu_tags.h"
#include "app/wave_player.h"
#include "common/message_box.h"
#include "common/qt_text.h"
#include "common/text_helpers.h"
#include "common/window_placement.h"
#include "connection/byte_sender.h"
#include "connection/play_atascii.h"
#include "connection/serial_connection.h"
#include "connection/telnet.h"
#include "connection/throttle.h"
#include "directory/dialer.h"
#include "keyboard/qt_key_map.h"
#include "keyboard/translate_key.h"
#include "screen/crt_screen.h"
#include "transfer/choose_dir.h"
#include "transfer/protocol.h"
#include "transfer/upload.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>

#include <QDeadlineTimer>

#include <algorithm>
#include <chrono>
#include <thread>

namespace telvora {

namespace {

// A file dialog made on first use and kept, so that it remembers its folder
// (and a save dialog its last name) between uses.
QFileDialog& KeptFileDialog(QFileDialog*& dialog, QWidget* parent, const char* name,
                            const QString& title, QFileDialog::AcceptMode mode) {
    if (dialog == nullptr) {
        dialog = new QFileDialog(parent, title);
        dialog->setObjectName(QString::fromLatin1(name));
        dialog->setAcceptMode(mode);
    }
    return *dialog;
}

// Runs the dialog: the files chosen, as the system names them; none when
// the user cancelled.
std::vector<std::string> ChosenFiles(QFileDialog& dialog) {
    std::vector<std::string> paths;
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& file : dialog.selectedFiles()) {
            paths.push_back(FileNameToSystem(file));
        }
    }
    return paths;
}

constexpr int kScreenColumns = 40;
constexpr int kScreenRows = 24;
constexpr int kMediumFontDelta = 8;
constexpr int kPanel1Width = 100;
constexpr int kPanel2Width = 50;
// A sound still being loaded when the program closes gets this long to
// finish: Qt Multimedia's loader must not be left running into exit().
constexpr int kSoundLoadWaitMs = 2000;
constexpr int kStatusIntervalMs = 1000;

} // namespace

Tmain::Tmain(Sound sound, QWidget* parent) : QMainWindow(parent), m_withSound(sound == Sound::On) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Telvora"));
    // A fixed single border with the system menu and minimize button only.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    BuildScreen();
    BuildMenus();
    BuildStatusBar();
    FormCreate();
    FitToScreen();
    telvora::CentreOnScreen(*this);
    m_acrt->setFocus();
}

Tmain::~Tmain() {
    ShutDown();
}

void Tmain::BuildScreen() {
    m_client = new QWidget(this);
    m_acrt = new TCrtScreen(m_client);
    m_acrt->setObjectName(QStringLiteral("ACRT"));
    m_acrt->SetBackColor(kScreenBackColor);
    m_acrt->SetTextColor(kScreenTextColor);
    m_acrt->SetColumns(kScreenColumns);
    m_acrt->SetRows(kScreenRows);
    m_acrt->SetFontDelta(kMediumFontDelta);
    m_acrt->move(1, 0);
    setCentralWidget(m_client);
    connect(m_acrt, &TCrtScreen::Buzzer, this, &Tmain::BuzzerSounded);
    connect(m_acrt, &TCrtScreen::OnKeyDown, this, &Tmain::ACRTKeyDown);
}

QAction* Tmain::AddEntry(QMenu* menu, const char* name, const QString& caption, int tag) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(tag);
    return action;
}

QAction* Tmain::Entry(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

void Tmain::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    connect(AddEntry(file, "Exit1", QStringLiteral("E&xit")), &QAction::triggered, this,
            &Tmain::Exit1Click);

    QMenu* connectTo = bar->addMenu(QStringLiteral("&Connect To"));
    connectTo->setObjectName(QStringLiteral("Telnet1"));
    QMenu* telnet = connectTo->addMenu(QStringLiteral("Telnet"));
    telnet->setObjectName(QStringLiteral("Telnet2"));
    connect(AddEntry(telnet, "M_TelnetStart", QStringLiteral("Connect To Remote Host")),
            &QAction::triggered, this, &Tmain::M_TelnetStartClick);
    QAction* telnetStop = AddEntry(telnet, "M_TelnetStop", QStringLiteral("Disconnect"));
    telnetStop->setEnabled(false);
    connect(telnetStop, &QAction::triggered, this, &Tmain::M_TelnetStopClick);
    QMenu* serial = connectTo->addMenu(QStringLiteral("Serial Port"));
    serial->setObjectName(QStringLiteral("SerialPort1"));
    connect(AddEntry(serial, "AttachToSerialPort1", QStringLiteral("Attach To Serial Port")),
            &QAction::triggered, this, &Tmain::M_SerialAttach);
    QAction* serialStop = AddEntry(serial, "Disconnect1", QStringLiteral("Disconnect"));
    serialStop->setEnabled(false);
    connect(serialStop, &QAction::triggered, this, &Tmain::M_SerialDetach);
    // What the Telnet and serial connections show, as a movie; checked while on.
    QAction* record = AddEntry(connectTo, "RecordSession1", QStringLiteral("Record Session..."));
    record->setCheckable(true);
    connect(record, &QAction::triggered, this, &Tmain::RecordSession1Click);

    QMenu* movies = bar->addMenu(QStringLiteral("&Break Movies"));
    movies->setObjectName(QStringLiteral("PlayATASCIIMovie1"));
    connect(AddEntry(movies, "M_PlayMovie", QStringLiteral("&Play ATASCII Movie")),
            &QAction::triggered, this, &Tmain::M_PlayMovieClick);
    QAction* stopMovie = AddEntry(movies, "M_StopMovie", QStringLiteral("&Stop Movie"));
    stopMovie->setEnabled(false);
    connect(stopMovie, &QAction::triggered, this, &Tmain::M_StopMovieClick);

    QMenu* terminal = bar->addMenu(QStringLiteral("Te&rminal"));
    terminal->setObjectName(QStringLiteral("Terminal1"));
    QMenu* size = terminal->addMenu(QStringLiteral("Size"));
    size->setObjectName(QStringLiteral("Size1"));
    for (const TTaggedEntry& tagged : kSizeEntries) {
        QAction* entry =
            AddEntry(size, tagged.name, QString::fromLatin1(tagged.caption), tagged.tag);
        entry->setCheckable(true);
        connect(entry, &QAction::triggered, this, [this, entry] { Small1Click(entry); });
    }
    Entry("Medium1")->setChecked(true);
    QMenu* speed = terminal->addMenu(QStringLiteral("Speed"));
    speed->setObjectName(QStringLiteral("Speed1"));
    for (const TTaggedEntry& tagged : kSpeedEntries) {
        QAction* entry =
            AddEntry(speed, tagged.name, QString::fromLatin1(tagged.caption), tagged.tag);
        entry->setCheckable(true);
        connect(entry, &QAction::triggered, this, [this, entry] { N300BPS1Click(entry); });
    }
    QMenu* keyClick = terminal->addMenu(QStringLiteral("Key Click"));
    keyClick->setObjectName(QStringLiteral("KeyClick1"));
    QAction* click = AddEntry(keyClick, "EnableAtariKeyClickSound1",
                              QStringLiteral("Enable Atari Key Click Sound"));
    click->setCheckable(true);
    click->setChecked(true);
    connect(click, &QAction::triggered, this, &Tmain::EnableAtariKeyClickSound1Click);
    // Off at every start, like the other choices.
    QAction* escape = AddEntry(terminal, "EscapeShowsControls1",
                               QStringLiteral("Escape Shows Control Characters"));
    escape->setCheckable(true);
    connect(escape, &QAction::toggled, this,
            [this](bool on) { m_acrt->SetEscapeShowsControls(on); });
    connect(AddEntry(terminal, "Clear1", QStringLiteral("Clear")), &QAction::triggered, this,
            &Tmain::Clear1Click);

    m_mDownload = bar->addMenu(QStringLiteral("Download"));
    m_mDownload->setObjectName(QStringLiteral("mDownload"));
    m_mDownload->setEnabled(false);
    // Two entries each for one receive: the sender's header bytes set the block size.
    for (const char* name : {"StartTransfer1", "Receive1"}) {
        connect(AddEntry(m_mDownload, name,
                         QString::fromLatin1(name[0] == 'S' ? "X-Modem CRC" : "X-Modem 1k")),
                &QAction::triggered, this, &Tmain::StartTransfer1Click);
    }
    for (const char* name : {"YModemBatch1", "FModemBatch1"}) {
        connect(AddEntry(m_mDownload, name,
                         QString::fromLatin1(name[0] == 'Y' ? "Y-Modem Batch" : "F-Modem Batch")),
                &QAction::triggered, this, &Tmain::Receive1Click);
    }
    // Only read when a transfer starts; toggling it changes nothing else.
    QAction* filter = AddEntry(m_mDownload, "ExtraFiltering",
                               QStringLiteral("Filter TELNET Escape Codes During File Transfers"));
    filter->setCheckable(true);
    filter->setChecked(true);
    QAction* capture = AddEntry(m_mDownload, "Capture1", QStringLiteral("Capture"));
    capture->setVisible(false);
    connect(capture, &QAction::triggered, this, &Tmain::Capture1Click);

    m_mUpload = bar->addMenu(QStringLiteral("Upload"));
    m_mUpload->setObjectName(QStringLiteral("mUpload"));
    m_mUpload->setEnabled(false);
    const std::pair<const char*, TSendProtocol> uploads[] = {
        {"UploadXModemCrc1", TSendProtocol::XModemCrc},
        {"UploadXModem1k1", TSendProtocol::XModem1k},
        {"UploadYModemBatch1", TSendProtocol::YModem}};
    for (const auto& [name, protocol] : uploads) {
        const QString caption =
            protocol == TSendProtocol::XModemCrc  ? QStringLiteral("X-Modem CRC...")
            : protocol == TSendProtocol::XModem1k ? QStringLiteral("X-Modem 1k...")
                                                  : QStringLiteral("Y-Modem Batch...");
        connect(AddEntry(m_mUpload, name, caption), &QAction::triggered, this,
                [this, protocol = protocol] { UploadClick(protocol); });
    }

    QMenu* links = bar->addMenu(QStringLiteral("&Links"));
    links->setObjectName(QStringLiteral("Links1"));
    for (const LinkEntry& link : LinkEntries()) {
        const QString address = link.address;
        connect(AddEntry(links, link.name, link.caption), &QAction::triggered, this,
                [this, address] { OpenURL(this, address); });
    }

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    connect(AddEntry(help, "About1", QStringLiteral("About")), &QAction::triggered, this,
            &Tmain::About1Click);
}

void Tmain::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(kStatusBarHeight);
    m_panel1 = new QLabel(bar);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setFixedWidth(kPanel1Width);
    m_panel2 = new QLabel(bar);
    m_panel2->setObjectName(QStringLiteral("Panel2"));
    m_panel2->setMinimumWidth(kPanel2Width);
    bar->addWidget(m_panel1);
    // The last panel takes the rest of the bar, so that long texts show.
    bar->addWidget(m_panel2, 1);
}

void Tmain::FormCreate() {
    m_stopping = false;
    SetTransferMode(false);
    m_keyClickOn = true;
    m_statusMonitor = new TMenuStatus(m_panel1, m_panel2, kStatusIntervalMs, this);
    if (m_withSound) {
        m_sounds = new WavePlayer(this);
    }
    // Made hidden at start and reused for the whole run.
    m_about = new Tabout(this);
    m_dialer = new TDialer(this);
    m_protocol = new TProtocol(this);
    m_upload = new TUpload(this);
    m_chooseDir = new TChooseDir(this);
    N300BPS1Click(Entry("FullSpeed1"));
}

void Tmain::FitToScreen() {
    // The client area is the screen plus three pixels of width, and the
    // status bar below it; the menu bar sits above.
    m_client->setFixedSize(m_acrt->width() + 3, m_acrt->height());
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
}

void Tmain::SetTransferMode(bool on, std::shared_ptr<TChunkSink> receiver) {
    m_transferMode = on;
    if (TLiveConnection* line = LiveConnection()) {
        const QAction* filter = Entry("ExtraFiltering");
        line->SetTransferMode(on, filter != nullptr && filter->isChecked(), std::move(receiver));
    }
}

TLiveConnection* Tmain::LiveConnection() const {
    // Telnet first, then serial; at most one of them runs.
    for (TConnectionThread* connection : {m_telnetConn.data(), m_serialConn.data()}) {
        if (auto* line = qobject_cast<TLiveConnection*>(connection)) {
            return line;
        }
    }
    return nullptr;
}

TConnectionThread* Tmain::RunningConnection() const {
    if (m_player) {
        return m_player;
    }
    if (m_serialConn) {
        return m_serialConn;
    }
    return m_telnetConn;
}

QPointer<TConnectionThread>& Tmain::SlotFor(TConnectionThread::Kind kind) {
    switch (kind) {
    case TConnectionThread::Kind::Movie:
        return m_player;
    case TConnectionThread::Kind::Serial:
        return m_serialConn;
    case TConnectionThread::Kind::Telnet:
        break;
    }
    return m_telnetConn;
}

bool Tmain::StartConnection(TConnectionThread::Kind kind,
                            const std::function<TConnectionThread*()>& create) {
    // A start that arrives while a stop is under way (from a dialog that was
    // open meanwhile) would leave a connection nobody knows of.
    if (m_stopping || m_shutDown) {
        return false;
    }
    StopConnection();
    ClearTerminal();
    TConnectionThread* connection = create();
    if (connection == nullptr) {
        return false;
    }
    Register(kind, connection);
    return true;
}

void Tmain::Register(TConnectionThread::Kind kind, TConnectionThread* connection) {
    SlotFor(kind) = connection;
    std::erase_if(m_liveThreads, [](const QPointer<TConnectionThread>& live) { return !live; });
    m_liveThreads.emplace_back(connection);
    connect(connection, &TConnectionThread::Ended, this, &Tmain::ConnectionGone);
    connect(connection, &TConnectionThread::Notice, this, &Tmain::ConnectionNotice);
    m_statusMonitor->SetConnection(connection);
    RefreshConnectionMenus();
}

void Tmain::ConnectionGone(TConnectionThread* connection) {
    // A transfer over this line stops sending to it before it goes.
    for (TTransferWindow* window : TransferWindows()) {
        if (window->Line() != nullptr && window->Line() == connection) {
            window->TransportLost();
        }
    }
    // A connection that ends late must not disturb one started meanwhile.
    m_statusMonitor->ClearConnection(connection);
    for (QPointer<TConnectionThread>* slot : {&m_player, &m_serialConn, &m_telnetConn}) {
        if (*slot == connection) {
            *slot = nullptr;
        }
    }
    std::erase_if(m_liveThreads, [connection](const QPointer<TConnectionThread>& live) {
        return !live || live == connection;
    });
    RefreshConnectionMenus();
    m_lastConnectionFailed = connection->EndedInFailure();
    if (!connection->EndMessage().isEmpty()) {
        // Shown after the thread's last step, which must not wait for the user.
        const QString text = connection->EndMessage();
        QMetaObject::invokeMethod(
            this, [this, text] { ShowMessage(this, text); }, Qt::QueuedConnection);
    }
    Q_EMIT ConnectionEnded();
}

void Tmain::RefreshConnectionMenus() {
    // Each kind's start entry is off while it runs and, for every kind, while
    // a stop is under way; its stop entry is on while it runs. Downloads need
    // a live line.
    const bool canStart = !m_stopping && !m_shutDown;
    Entry("M_PlayMovie")->setEnabled(canStart && !m_player);
    Entry("M_StopMovie")->setEnabled(m_player != nullptr);
    Entry("M_TelnetStart")->setEnabled(canStart && !m_telnetConn);
    Entry("M_TelnetStop")->setEnabled(m_telnetConn != nullptr);
    Entry("AttachToSerialPort1")->setEnabled(canStart && !m_serialConn);
    Entry("Disconnect1")->setEnabled(m_serialConn != nullptr);
    m_mDownload->setEnabled(m_telnetConn != nullptr || m_serialConn != nullptr);
    m_mUpload->setEnabled(m_mDownload->isEnabled());
}

int Tmain::LiveConnections() const {
    return static_cast<int>(std::count_if(
        m_liveThreads.begin(), m_liveThreads.end(),
        [](const QPointer<TConnectionThread>& live) { return live && !live->isFinished(); }));
}

bool Tmain::PlayMovie(const QString& path) {
    return PlayMovie(FileNameToSystem(path));
}

bool Tmain::PlayMovie(const std::string& systemPath) {
    try {
        return StartConnection(TConnectionThread::Kind::Movie, [&] {
            auto* player = new TPlayAtascii(systemPath, m_speed, m_acrt);
            player->Start();
            return player;
        });
    } catch (const std::exception& error) {
        ShowMessage(this, QString::fromStdString(error.what()));
        return false;
    }
}

bool Tmain::ConnectTelnet(const QString& host, const QString& port) {
    const QString service = port.isEmpty() ? QStringLiteral("23") : port;
    return StartConnection(TConnectionThread::Kind::Telnet, [&] {
        auto* telnet =
            new TTelnet(ToUtf8(host), ToUtf8(service), m_speed, m_acrt, m_capture, m_hostLookup);
        telnet->SetRecording(m_recording);
        telnet->Start(QThread::LowPriority);
        return telnet;
    });
}

bool Tmain::AttachSerial(const std::string& device) {
    return StartConnection(TConnectionThread::Kind::Serial, [&] {
        auto* serial = new TSerialConnection(device, m_speed, m_acrt);
        serial->SetRecording(m_recording);
        serial->Start();
        return serial;
    });
}

void Tmain::M_TelnetStartClick() {
    if (m_dialer->exec() != QDialog::Accepted) {
        return;
    }
    // Blanks alone are no host; the name itself goes on as the directory holds it.
    if (TrimBlanks(ToUtf8(m_dialer->ChosenHost())).empty()) {
        return;
    }
    ConnectTelnet(m_dialer->ChosenHost(), m_dialer->ChosenPort());
}

void Tmain::M_SerialAttach() {
    auto select = m_portSource ? std::make_unique<TSelectPort>(this, m_portSource)
                               : std::make_unique<TSelectPort>(this);
    if (select->PortCount() == 0) {
        select.reset();
        ShowMessage(this, QStringLiteral("No Serial Ports Available!"));
        return;
    }
    const int result = select->exec();
    const QString port = select->SelectedPort();
    select.reset();
    if (result == QDialog::Accepted && !port.isEmpty()) {
        AttachSerial(FileNameToSystem(port));
    }
}

QString Tmain::CapturePath() {
    return QDir::homePath() + QStringLiteral("/capture");
}

void Tmain::Capture1Click() {
    if (m_capture->IsOpen()) {
        CloseSessionFile(*m_capture);
        return;
    }
    OpenSessionFile(*m_capture, FileNameToSystem(CapturePath()));
}

void Tmain::RecordSession1Click() {
    if (m_recording->IsOpen()) {
        CloseSessionFile(*m_recording);
        RefreshRecordingEntry();
        return;
    }
    QFileDialog& dialog = KeptFileDialog(m_recordDialog, this, "RecordDialog1",
                                         QStringLiteral("Record Session"), QFileDialog::AcceptSave);
    dialog.setNameFilters(
        {QStringLiteral("ATASCII Movies (*.ata *.ATA)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("ata"));
    const std::vector<std::string> chosen = ChosenFiles(dialog);
    if (!chosen.empty()) {
        OpenSessionFile(*m_recording, chosen.front());
    }
    // The entry checked itself when it was chosen: it shows what is so.
    RefreshRecordingEntry();
}

bool Tmain::StartRecording(const std::string& path) {
    const bool started = OpenSessionFile(*m_recording, path);
    RefreshRecordingEntry();
    return started;
}

void Tmain::RefreshRecordingEntry() {
    Entry("RecordSession1")->setChecked(m_recording->IsOpen());
}

bool Tmain::OpenSessionFile(TCaptureFile& file, const std::string& path) {
    try {
        file.Open(path);
        return true;
    } catch (const ECaptureError& failure) {
        ShowMessage(this, FromUtf8(failure.what()));
        return false;
    }
}

void Tmain::CloseSessionFile(TCaptureFile& file) {
    try {
        file.Close();
    } catch (const ECaptureError& failure) {
        ShowMessage(this, FromUtf8(failure.what()));
    }
}

bool Tmain::LineUp() const {
    const TLiveConnection* line = LiveConnection();
    return line != nullptr && line->LineUp();
}

bool Tmain::ReceiveFile(const std::string& path) {
    return Receive(false, path);
}

bool Tmain::ReceiveBatch(const std::string& folder) {
    return Receive(true, folder);
}

bool Tmain::Receive(bool batch, const std::string& where) {
    return RunTransfer(*m_protocol, [&](TLiveConnection* line) {
        auto endTransferMode = [this] { SetTransferMode(false); };
        if (batch) {
            m_protocol->StartBatch(line, where, endTransferMode);
        } else {
            m_protocol->StartSingle(line, where, endTransferMode);
        }
    });
}

bool Tmain::SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths) {
    return RunTransfer(*m_upload, [&](TLiveConnection* line) {
        m_upload->Start(line, protocol, paths, [this] { SetTransferMode(false); });
    });
}

std::array<TTransferWindow*, 2> Tmain::TransferWindows() const {
    return {m_protocol, m_upload};
}

bool Tmain::TransferRunning() const {
    return m_protocol->Running() || m_upload->Running();
}

bool Tmain::RunTransfer(TTransferWindow& window,
                        const std::function<void(TLiveConnection*)>& start) {
    TLiveConnection* line = LiveConnection();
    if (line == nullptr || TransferRunning()) {
        return false;
    }
    SetTransferMode(true, window.Sink());
    try {
        start(line);
    } catch (const std::exception& failure) {
        SetTransferMode(false);
        window.TransportLost();
        ShowMessage(this, FromUtf8(failure.what()));
        return false;
    }
    window.exec();
    return true;
}

void Tmain::UploadClick(TSendProtocol protocol) {
    const bool batch = protocol == TSendProtocol::YModem;
    QFileDialog& dialog = KeptFileDialog(m_openDialog, this, "OpenDialog1",
                                         QStringLiteral("Upload"), QFileDialog::AcceptOpen);
    dialog.setWindowTitle(batch ? QStringLiteral("Files To Upload")
                                : QStringLiteral("File To Upload"));
    dialog.setFileMode(batch ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    const std::vector<std::string> chosen = ChosenFiles(dialog);
    if (!chosen.empty()) {
        SendFiles(protocol, chosen);
    }
}

void Tmain::StartTransfer1Click() {
    // A save dialog asks before an existing file is replaced.
    QFileDialog& dialog = KeptFileDialog(m_saveDialog, this, "SaveDialog1",
                                         QStringLiteral("Save File As"), QFileDialog::AcceptSave);
    const std::vector<std::string> chosen = ChosenFiles(dialog);
    if (!chosen.empty()) {
        ReceiveFile(chosen.front());
    }
}

void Tmain::Receive1Click() {
    if (m_chooseDir->exec() != QDialog::Accepted) {
        return;
    }
    ReceiveBatch(FileNameToSystem(m_chooseDir->SelectedFolder()));
}

void Tmain::ConnectionNotice(TConnectionThread* /*connection*/, const QString& text) {
    // A recording that failed has stopped: its entry says so.
    RefreshRecordingEntry();
    // Not inside the connection's own step: the box's event loop may end it.
    QMetaObject::invokeMethod(
        this, [this, text] { ShowMessage(this, text); }, Qt::QueuedConnection);
}

QString Tmain::DemoMovieFolder() {
    // Beside a build's program; then where an installation keeps them.
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& folder : {program + QStringLiteral("/MOVIES"),
                                  program + QStringLiteral("/../share/telvora/MOVIES")}) {
        if (QDir(folder).exists()) {
            return QDir::cleanPath(folder);
        }
    }
    const QString shared =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                               QStringLiteral("telvora/MOVIES"), QStandardPaths::LocateDirectory);
    return shared.isEmpty() ? program + QStringLiteral("/MOVIES") : shared;
}

void Tmain::M_PlayMovieClick() {
    QFileDialog dialog(this, QStringLiteral("Open ATASCII Movie File"), DemoMovieFolder(),
                       QStringLiteral("All Files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    PlayMovie(dialog.selectedFiles().constFirst());
}

void Tmain::StopOne(QPointer<TConnectionThread>& slot) {
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

void Tmain::StopConnection() {
    if (m_stopping) {
        return;
    }
    m_stopping = true;
    RefreshConnectionMenus();
    StopOne(m_player);
    StopOne(m_serialConn);
    StopOne(m_telnetConn);
    m_statusMonitor->SetConnection(nullptr);
    m_stopping = false;
    RefreshConnectionMenus();
}

void Tmain::ShutDown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    ShutDownSounds();
    ShutDownConnections();
    if (m_statusMonitor != nullptr) {
        m_statusMonitor->Stop();
    }
}

void Tmain::ShutDownSounds() {
    if (m_sounds == nullptr) {
        return;
    }
    QElapsedTimer timer;
    timer.start();
    while (m_sounds->Loading() && timer.elapsed() < kSoundLoadWaitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    delete m_sounds;
    m_sounds = nullptr;
}

void Tmain::WaitAndPump() {
    // About one second in which the window stays responsive, so that the
    // ending thread's last steps, which run on this thread, can be carried out.
    for (int i = 0; i < kWaitAndPumpRounds; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWaitAndPumpSleepMs));
        QCoreApplication::processEvents();
    }
}

void Tmain::ShutDownConnections() {
    // A running transfer stops sending to a line that is about to go.
    for (TTransferWindow* window : TransferWindows()) {
        if (window != nullptr) {
            window->TransportLost();
        }
    }
    // Refused from now on, every thread's steps on this thread are skipped,
    // so waiting for the threads needs no event processing and cannot
    // deadlock with a thread that wants this one.
    for (const QPointer<TConnectionThread>& live : m_liveThreads) {
        if (live) {
            disconnect(live, &TConnectionThread::Ended, this, &Tmain::ConnectionGone);
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
        // it touches nothing of the window any more and releases itself.
    }
    m_liveThreads.clear();
    m_player = nullptr;
    m_serialConn = nullptr;
    m_telnetConn = nullptr;
    if (m_statusMonitor != nullptr) {
        m_statusMonitor->SetConnection(nullptr);
    }
    RefreshConnectionMenus();
}

void Tmain::ClearTerminal() {
    m_acrt->WriteByte(atascii::kClearScreen);
}

void Tmain::PlaySound() {
    if (m_keyClickOn && m_sounds != nullptr) {
        m_sounds->Play(WavePlayer::Wave::Key);
    }
}

void Tmain::BuzzerSounded() {
    if (m_sounds != nullptr) {
        m_sounds->Play(WavePlayer::Wave::Beep);
    }
}

void Tmain::ACRTKeyDown(QKeyEvent* event) {
    m_capsLock.Observe(*event);
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const int code =
        TranslateKey(VirtualKeyFromQt(event->key(), modifiers), ShiftStateFromQt(modifiers),
                     {modifiers.testFlag(Qt::ShiftModifier), m_capsLock.On()});
    if (code < 0 || m_stopping) {
        return;
    }
    // Telnet first, then serial; at most one of them runs.
    for (TConnectionThread* connection : {m_telnetConn.data(), m_serialConn.data()}) {
        if (auto* line = dynamic_cast<TByteSender*>(connection)) {
            try {
                line->SendByte(static_cast<std::uint8_t>(code));
            } catch (const std::exception& failure) {
                ShowMessage(this, QStringLiteral("Cannot send - ") + FromUtf8(failure.what()));
                return;
            }
            PlaySound();
            return;
        }
    }
}

void Tmain::N300BPS1Click(QAction* sender) {
    m_speed = sender->data().toInt();
    for (const TTaggedEntry& tagged : kSpeedEntries) {
        Entry(tagged.name)->setChecked(false);
    }
    sender->setChecked(true);
    for (TConnectionThread* connection :
         {m_player.data(), m_serialConn.data(), m_telnetConn.data()}) {
        if (connection != nullptr) {
            connection->SetSpeed(m_speed);
        }
    }
}

void Tmain::Small1Click(QAction* sender) {
    for (const TTaggedEntry& tagged : kSizeEntries) {
        Entry(tagged.name)->setChecked(false);
    }
    sender->setChecked(true);
    m_acrt->SetFontDelta(sender->data().toInt());
    FitToScreen();
}

void Tmain::EnableAtariKeyClickSound1Click() {
    m_keyClickOn = !m_keyClickOn;
    Entry("EnableAtariKeyClickSound1")->setChecked(m_keyClickOn);
}

void Tmain::Exit1Click() {
    close();
}

void Tmain::About1Click() {
    m_about->exec();
}

void Tmain::closeEvent(QCloseEvent* event) {
    // Everything that writes to the screen or the status bar ends before
    // they are destroyed.
    ShutDown();
    QMainWindow::closeEvent(event);
}

} // namespace telvora
