#include "app/main_window.h"

#include "app/about_box.h"
#include "app/file_dialogs.h"
#include "app/keyboard_window.h"
#include "app/links.h"
#include "app/menu_focus.h"
#include "app/menu_tags.h"
#include "app/screen_fit.h"
#include "app/serial_commands.h"
#include "app/session.h"
#include "app/status_line.h"
#include "app/text_commands.h"
#include "app/transfer_commands.h"
#include "app/wave_player.h"
#include "common/message_box.h"
#include "common/qt_text.h"
#include "common/text_helpers.h"
#include "common/window_placement.h"
#include "connection/live_connection.h"
#include "directory/dialer.h"
#include "keyboard/qt_key_map.h"
#include "keyboard/translate_key.h"
#include "screen/crt_screen.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QStandardPaths>
#include <QStatusBar>

#include <algorithm>
#include <chrono>
#include <thread>
#include <tuple>

namespace telvora {

namespace {

// A sound still being loaded when the program closes gets this long to
// finish: Qt Multimedia's loader must not be left running into exit().
constexpr int kSoundLoadWaitMs = 2000;

} // namespace

Tmain::Tmain(TSession& session, Sound sound, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_withSound(sound == Sound::On) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Telvora"));
    // A fixed single border with the system menu and minimize button only.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    BuildScreen();
    m_text = new TTextCommands(*this, *m_acrt, m_session);
    m_transfers = new TTransferCommands(*this, m_session);
    m_serial = new TSerialCommands(*this, m_session);
    BuildMenus();
    KeepKeysForTheScreen(*menuBar(), *m_acrt);
    m_status = new TStatusLine(*statusBar(), m_session, *m_acrt);
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
    m_acrt = new TCrtScreen(m_session.SharedModel(), m_client);
    m_acrt->setObjectName(QStringLiteral("ACRT"));
    m_acrt->SetBackColor(kScreenBackColor);
    m_acrt->SetTextColor(kScreenTextColor);
    m_acrt->SetFontDelta(kMediumFontDelta);
    m_windowFontDelta = kMediumFontDelta;
    m_acrt->move(1, 0);
    setCentralWidget(m_client);
    // Full screen places the screen whenever the client area changes size.
    m_client->installEventFilter(this);
    connect(m_acrt, &TCrtScreen::Buzzer, this, &Tmain::BuzzerSounded);
    connect(m_acrt, &TCrtScreen::OnKeyDown, this, &Tmain::ACRTKeyDown);
}

QAction* Tmain::AddEntry(QMenu* menu, const char* name, const QString& caption, int tag) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setData(tag);
    return action;
}

QLabel* Tmain::StatusPanel1() const {
    return m_status->Panel1();
}

QLabel* Tmain::StatusPanel2() const {
    return m_status->Panel2();
}

QAction* Tmain::Entry(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

void Tmain::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    connect(AddEntry(file, "SaveScrollback1", QStringLiteral("Save Scrollback...")),
            &QAction::triggered, m_text, &TTextCommands::SaveScrollbackClick);
    connect(AddEntry(file, "Exit1", QStringLiteral("E&xit")), &QAction::triggered, this,
            &QWidget::close);
    BuildEditMenu();

    QMenu* connectTo = bar->addMenu(QStringLiteral("&Connect To"));
    connectTo->setObjectName(QStringLiteral("Telnet1"));
    QMenu* movies = bar->addMenu(QStringLiteral("&Break Movies"));
    movies->setObjectName(QStringLiteral("PlayATASCIIMovie1"));
    BuildConnectMenus(connectTo, movies);

    QMenu* terminal = bar->addMenu(QStringLiteral("Te&rminal"));
    terminal->setObjectName(QStringLiteral("Terminal1"));
    BuildTerminalMenu(terminal);
    BuildTransferMenus();

    QMenu* links = bar->addMenu(QStringLiteral("&Links"));
    links->setObjectName(QStringLiteral("Links1"));
    for (const LinkEntry& link : LinkEntries()) {
        const QString address = link.address;
        connect(AddEntry(links, link.name, link.caption), &QAction::triggered, this,
                [this, address] { OpenURL(this, address); });
    }

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    connect(AddEntry(help, "Keyboard1", QStringLiteral("Keyboard")), &QAction::triggered, this,
            [this] { ShowKeyboardWindow(this); });
    connect(AddEntry(help, "About1", QStringLiteral("About")), &QAction::triggered, this,
            [this] { m_about->exec(); });
}

void Tmain::BuildConnectMenus(QMenu* connectTo, QMenu* movies) {
    // Every stop entry stops whatever runs, not only its own kind.
    const auto stop = [this] { m_session.StopConnection(); };
    QMenu* telnet = connectTo->addMenu(QStringLiteral("Telnet"));
    telnet->setObjectName(QStringLiteral("Telnet2"));
    connect(AddEntry(telnet, "M_TelnetStart", QStringLiteral("Connect To Remote Host")),
            &QAction::triggered, this, &Tmain::M_TelnetStartClick);
    connect(AddEntry(telnet, "M_TelnetStop", QStringLiteral("Disconnect")), &QAction::triggered,
            this, stop);
    BuildDirectoryEntries(connectTo);
    QMenu* serial = connectTo->addMenu(QStringLiteral("Serial Port"));
    serial->setObjectName(QStringLiteral("SerialPort1"));
    connect(AddEntry(serial, "AttachToSerialPort1", QStringLiteral("Attach To Serial Port")),
            &QAction::triggered, m_serial, &TSerialCommands::AttachClick);
    connect(AddEntry(serial, "Disconnect1", QStringLiteral("Disconnect")), &QAction::triggered,
            this, stop);
    connect(AddEntry(serial, "SerialSettings1", QStringLiteral("Serial Settings...")),
            &QAction::triggered, m_serial, &TSerialCommands::SettingsClick);
    // Typing AT commands to a modem by hand, in ASCII; checked while on.
    QAction* commandMode =
        AddEntry(serial, "ModemCommandMode1", QStringLiteral("Modem Command Mode"));
    commandMode->setCheckable(true);
    connect(commandMode, &QAction::triggered, this,
            [this](bool on) { m_session.SetModemCommandMode(on); });
    // What the Telnet and serial connections show, as a movie; checked while on.
    QAction* record = AddEntry(connectTo, "RecordSession1", QStringLiteral("Record Session..."));
    record->setCheckable(true);
    connect(record, &QAction::triggered, this, &Tmain::RecordSession1Click);

    connect(AddEntry(movies, "M_PlayMovie", QStringLiteral("&Play ATASCII Movie")),
            &QAction::triggered, this, &Tmain::M_PlayMovieClick);
    connect(AddEntry(movies, "M_StopMovie", QStringLiteral("&Stop Movie")), &QAction::triggered,
            this, stop);
}

// What acts on the directory entry last called.
void Tmain::BuildDirectoryEntries(QMenu* connectTo) {
    QAction* redial = AddEntry(connectTo, "Redial1", QStringLiteral("Redial Last Board"));
    redial->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    connect(redial, &QAction::triggered, this, [this] { m_session.Redial(); });
    connect(AddEntry(connectTo, "SendLogin1", QStringLiteral("Send Login")), &QAction::triggered,
            this, [this] { m_session.SendLogin(); });
    connect(&m_session, &TSession::RawPeerOffered, this, [this](const QString& name) {
        m_session.AnswerRawPeerOffer(
            AskYesNo(this, QStringLiteral("\"%1\" answers like a plain TCP bridge, not a Telnet "
                                          "server. Switch this entry to Raw TCP and call it again?")
                               .arg(name)));
    });
}

void Tmain::BuildTerminalMenu(QMenu* terminal) {
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
    connect(escape, &QAction::triggered, this,
            [this](bool on) { m_session.SetEscapeShowsControls(on); });
    // On at every start: a board's ZMODEM send opens the download by itself.
    QAction* autoZmodem =
        AddEntry(terminal, "ZmodemAutoStart1", QStringLiteral("ZMODEM Auto-Start"));
    autoZmodem->setCheckable(true);
    connect(autoZmodem, &QAction::triggered, this,
            [this](bool on) { m_session.SetAutoZmodem(on); });
    // Off at every start; F10 switches it too.
    QAction* inverse = AddEntry(terminal, "Inverse1", QStringLiteral("Inverse"));
    inverse->setCheckable(true);
    inverse->setShortcut(QKeySequence(Qt::Key_F10));
    connect(inverse, &QAction::triggered, this, [this](bool on) { SetInverse(on); });
    // 40 at every start, like the other choices; a directory entry or the
    // command line may ask for 80.
    auto* widths = new QActionGroup(terminal);
    for (const auto& [name, columns, caption] :
         {std::tuple{"Columns40", kNarrowColumns, QStringLiteral("40 Columns")},
          std::tuple{"Columns80", kWideColumns, QStringLiteral("80 Columns (XEP80)")}}) {
        QAction* entry = AddEntry(terminal, name, caption, columns);
        entry->setCheckable(true);
        widths->addAction(entry);
        connect(entry, &QAction::triggered, this,
                [this, columns = columns] { m_session.SetColumns(columns); });
    }
    QAction* fullScreen = AddEntry(terminal, "FullScreen1", QStringLiteral("Full Screen"));
    fullScreen->setCheckable(true);
    fullScreen->setShortcut(QKeySequence(Qt::Key_F11));
    // The menu bar is hidden in full screen; the window keeps the key.
    addAction(fullScreen);
    connect(fullScreen, &QAction::triggered, this, [this](bool on) { SetFullScreen(on); });
    connect(AddEntry(terminal, "Clear1", QStringLiteral("Clear")), &QAction::triggered, this,
            [this] { m_session.ClearTerminal(); });
    connect(AddEntry(terminal, "ClearScrollback1", QStringLiteral("Clear Scrollback")),
            &QAction::triggered, this, [this] { m_acrt->ClearScrollback(); });
}

void Tmain::BuildEditMenu() {
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    // Ctrl+Shift with a letter: the key tables give those the plain capital.
    QAction* copy = AddEntry(edit, "Copy1", QStringLiteral("Copy"));
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    connect(copy, &QAction::triggered, m_text, &TTextCommands::Copy);
    QAction* paste = AddEntry(edit, "Paste1", QStringLiteral("Paste"));
    paste->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    connect(paste, &QAction::triggered, m_text, &TTextCommands::Paste);
    QAction* all = AddEntry(edit, "SelectAll1", QStringLiteral("Select All"));
    all->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    connect(all, &QAction::triggered, this, [this] { m_acrt->SelectAll(); });
}

void Tmain::BuildTransferMenus() {
    m_mDownload = menuBar()->addMenu(QStringLiteral("Download"));
    m_mDownload->setObjectName(QStringLiteral("mDownload"));
    // Two entries each for one receive: the sender's header bytes set the block size.
    for (const char* name : {"StartTransfer1", "Receive1"}) {
        connect(AddEntry(m_mDownload, name,
                         QString::fromLatin1(name[0] == 'S' ? "X-Modem CRC" : "X-Modem 1k")),
                &QAction::triggered, m_transfers, &TTransferCommands::SaveFileClick);
    }
    for (const char* name : {"YModemBatch1", "FModemBatch1"}) {
        connect(AddEntry(m_mDownload, name,
                         QString::fromLatin1(name[0] == 'Y' ? "Y-Modem Batch" : "F-Modem Batch")),
                &QAction::triggered, m_transfers, &TTransferCommands::ChooseFolderClick);
    }
    connect(AddEntry(m_mDownload, "YModemGBatch1", QStringLiteral("Y-Modem-G Batch")),
            &QAction::triggered, m_transfers, &TTransferCommands::StreamedBatchClick);
    connect(AddEntry(m_mDownload, "ZmodemDownload1", QStringLiteral("ZMODEM...")),
            &QAction::triggered, m_transfers, &TTransferCommands::ZmodemDownloadClick);
    // Only read when a transfer starts; toggling it changes nothing else.
    QAction* filter = AddEntry(m_mDownload, "ExtraFiltering",
                               QStringLiteral("Filter TELNET Escape Codes During File Transfers"));
    filter->setCheckable(true);
    connect(filter, &QAction::triggered, this, [this](bool on) { m_session.SetTelnetFilter(on); });
    QAction* capture = AddEntry(m_mDownload, "Capture1", QStringLiteral("Capture"));
    capture->setVisible(false);
    connect(capture, &QAction::triggered, this, &Tmain::Capture1Click);

    m_mUpload = menuBar()->addMenu(QStringLiteral("Upload"));
    m_mUpload->setObjectName(QStringLiteral("mUpload"));
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
                [this, protocol = protocol] { m_transfers->UploadClick(protocol); });
    }
    connect(AddEntry(m_mUpload, "ZmodemUpload1", QStringLiteral("ZMODEM...")), &QAction::triggered,
            m_transfers, &TTransferCommands::ZmodemUploadClick);
    connect(AddEntry(m_mUpload, "SendTextFile1", QStringLiteral("Send Text File...")),
            &QAction::triggered, m_text, &TTextCommands::SendTextFileClick);
}

void Tmain::FormCreate() {
    m_keyClickOn = true;
    // The sounds load after the screen's first paint: the window shows first.
    if (m_withSound) {
        m_acrt->installEventFilter(this);
    }
    // Made hidden at start and reused for the whole run.
    m_about = new Tabout(this);
    m_dialer = new TDialer(this);
    connect(&m_session, &TSession::Changed, this, &Tmain::RefreshMenus);
    connect(&m_session, &TSession::Notice, this, &Tmain::ShowNotice);
    // A modem's CONNECT on a plain line ends its command mode.
    connect(&m_session, &TSession::StatusChanged, this, &Tmain::RefreshMenus);
    RefreshMenus();
}

void Tmain::FitToScreen() {
    if (m_fullScreen) {
        PlaceFullScreen();
        return;
    }
    // The client area is the screen plus three pixels of width, and the
    // status bar below it; the menu bar sits above.
    const QSize around(3, menuBar()->sizeHint().height() + statusBar()->height());
    const int delta =
        WindowFontDelta(*this, around, m_acrt->Columns(), m_acrt->Rows(), m_windowFontDelta);
    if (delta != m_acrt->FontDelta()) {
        m_acrt->SetFontDelta(delta);
    }
    m_client->setFixedSize(m_acrt->width() + 3, m_acrt->height());
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    KeepOnScreen(*this);
}

void Tmain::RefreshMenus() {
    // Each kind's start entry is off while it runs and, for every kind, while
    // a stop is under way; its stop entry is on while it runs. Transfers need
    // a live line.
    const bool canStart = m_session.CanStart();
    Entry("M_PlayMovie")->setEnabled(canStart && !m_session.Player());
    Entry("M_StopMovie")->setEnabled(m_session.Player() != nullptr);
    // The directory opens while a line runs: calling another board stops it.
    Entry("M_TelnetStart")->setEnabled(canStart);
    Entry("Redial1")->setEnabled(m_session.CanRedial());
    Entry("SendLogin1")->setEnabled(m_session.LineUp() && !m_session.LastEntry().UserName.empty());
    Entry("M_TelnetStop")->setEnabled(m_session.TelnetConn() != nullptr);
    Entry("AttachToSerialPort1")->setEnabled(canStart && !m_session.SerialConn());
    Entry("Disconnect1")->setEnabled(m_session.SerialConn() != nullptr);
    Entry("ModemCommandMode1")->setEnabled(m_session.SerialConn() != nullptr);
    Entry("ModemCommandMode1")->setChecked(m_session.ModemCommandMode());
    m_mDownload->setEnabled(m_session.TelnetConn() != nullptr || m_session.SerialConn() != nullptr);
    m_mUpload->setEnabled(m_mDownload->isEnabled());
    // Pasting types into the live line.
    Entry("Paste1")->setEnabled(m_mDownload->isEnabled());
    for (const TTaggedEntry& tagged : kSpeedEntries) {
        Entry(tagged.name)->setChecked(tagged.tag == m_session.Speed());
    }
    Entry("ExtraFiltering")->setChecked(m_session.TelnetFilter());
    Entry("EscapeShowsControls1")->setChecked(m_session.EscapeShowsControls());
    Entry("ZmodemAutoStart1")->setChecked(m_session.AutoZmodem());
    Entry("Columns40")->setChecked(m_session.Columns() == kNarrowColumns);
    Entry("Columns80")->setChecked(m_session.Columns() == kWideColumns);
    // A new width needs a new window size (or, in full screen, a new scale).
    const QSize screenArea(m_acrt->width() + 3, m_acrt->height());
    if (m_fullScreen || m_client->size() != screenArea) {
        FitToScreen();
    }
    Entry("RecordSession1")->setChecked(m_session.Recording());
}

void Tmain::SetInverse(bool on) {
    m_inverseOn = on;
    Entry("Inverse1")->setChecked(on);
    m_status->SetInverse(on);
}

void Tmain::ShowNotice(const QString& text, bool information) {
    ShowMessage(this, text, information ? MessageKind::Information : MessageKind::Error);
}

void Tmain::M_PlayMovieClick() {
    QFileDialog dialog(this, QStringLiteral("Open ATASCII Movie File"), DemoMovieFolder(),
                       QStringLiteral("All Files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    m_session.PlayMovie(FileNameToSystem(dialog.selectedFiles().constFirst()));
}

QString Tmain::DemoMovieFolder() {
    // Beside a build's program; then where an installation keeps them, seen
    // from bin or from libexec/telvora, where the window program sits.
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& folder :
         {program + QStringLiteral("/MOVIES"), program + QStringLiteral("/../share/telvora/MOVIES"),
          program + QStringLiteral("/../../share/telvora/MOVIES")}) {
        if (QDir(folder).exists()) {
            return QDir::cleanPath(folder);
        }
    }
    const QString shared =
        QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                               QStringLiteral("telvora/MOVIES"), QStandardPaths::LocateDirectory);
    return shared.isEmpty() ? program + QStringLiteral("/MOVIES") : shared;
}

void Tmain::M_TelnetStartClick() {
    if (m_dialer->exec() == QDialog::Accepted) {
        m_session.ConnectToHost(m_dialer->ChosenEntry(), m_dialer->ChosenPassword());
    }
}

void Tmain::Capture1Click() {
    if (m_session.CaptureOn()) {
        m_session.StopCapture();
    } else {
        m_session.StartCapture();
    }
}

void Tmain::RecordSession1Click() {
    if (m_session.Recording()) {
        m_session.StopRecording();
        return;
    }
    QFileDialog& dialog = KeptFileDialog(m_recordDialog, this, "RecordDialog1",
                                         QStringLiteral("Record Session"), QFileDialog::AcceptSave);
    dialog.setNameFilters(
        {QStringLiteral("ATASCII Movies (*.ata *.ATA)"), QStringLiteral("All Files (*)")});
    dialog.setDefaultSuffix(QStringLiteral("ata"));
    const std::vector<std::string> chosen = ChosenFiles(dialog);
    if (!chosen.empty()) {
        m_session.StartRecording(chosen.front());
    }
    // The entry checked itself when it was chosen: it shows what is so.
    RefreshMenus();
}

void Tmain::ShutDown() {
    if (m_shutDown) {
        return;
    }
    m_shutDown = true;
    ShutDownSounds();
    m_session.ShutDown();
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
    if (event->key() == Qt::Key_F10) {
        SetInverse(!m_inverseOn);
        return;
    }
    if (event->key() == Qt::Key_F11) {
        SetFullScreen(!m_fullScreen);
        return;
    }
    // Escape stops typing a paste instead of going out.
    if (event->key() == Qt::Key_Escape && m_session.Typing()) {
        m_session.StopTyping();
        return;
    }
    if (m_text->ScrollbackKey(*event)) {
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    TShiftState shift = ShiftStateFromQt(modifiers);
    // The Inverse key does what Alt does.
    shift.alt = shift.alt || m_inverseOn;
    const int code = TranslateKey(VirtualKeyFromQt(event->key(), modifiers), shift,
                                  {modifiers.testFlag(Qt::ShiftModifier), m_capsLock.On()});
    if (code >= 0 && m_session.SendKey(static_cast<std::uint8_t>(code))) {
        // What is typed answers the live screen: the view returns to it.
        m_acrt->ReturnToLive();
        PlaySound();
    }
}

void Tmain::N300BPS1Click(QAction* sender) {
    m_session.SetSpeed(sender->data().toInt());
}

void Tmain::Small1Click(QAction* sender) {
    SetFontDelta(sender->data().toInt());
}

void Tmain::SetFontDelta(int delta) {
    for (const TTaggedEntry& tagged : kSizeEntries) {
        Entry(tagged.name)->setChecked(tagged.tag == delta);
    }
    m_windowFontDelta = delta;
    FitToScreen();
}

void Tmain::SetFullScreen(bool on) {
    Entry("FullScreen1")->setChecked(on);
    if (on == m_fullScreen) {
        return;
    }
    m_fullScreen = on;
    menuBar()->setVisible(!on);
    statusBar()->setVisible(!on);
    m_client->setAutoFillBackground(on);
    QPalette palette = m_client->palette();
    palette.setColor(QPalette::Window,
                     on ? QColor(Qt::black) : QApplication::palette().window().color());
    m_client->setPalette(palette);
    if (on) {
        // The fixed size of the window gives way to the whole screen: the
        // window's own limits too, which a window manager honours even in
        // full screen.
        layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        for (QWidget* widget : {static_cast<QWidget*>(this), m_client}) {
            widget->setMinimumSize(0, 0);
            widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        }
        showFullScreen();
        PlaceFullScreen();
    } else {
        showNormal();
        m_acrt->move(1, 0);
        FitToScreen();
    }
    m_acrt->setFocus();
}

void Tmain::PlaceFullScreen() {
    const QSize area = m_client->size();
    const int delta = FullScreenFontDelta(m_acrt->Columns(), m_acrt->Rows(), area.width(),
                                          area.height(), TCrtScreen::kMaxFontDelta);
    if (delta != m_acrt->FontDelta()) {
        m_acrt->SetFontDelta(delta);
    }
    m_acrt->move(std::max(0, (area.width() - m_acrt->width()) / 2),
                 std::max(0, (area.height() - m_acrt->height()) / 2));
}

bool Tmain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize && m_fullScreen) {
        PlaceFullScreen();
    }
    if (watched == m_acrt && event->type() == QEvent::Paint && m_sounds == nullptr &&
        !m_soundsAsked) {
        m_soundsAsked = true;
        m_acrt->removeEventFilter(this);
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_shutDown) {
                    m_sounds = new WavePlayer(this);
                }
            },
            Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

void Tmain::EnableAtariKeyClickSound1Click() {
    m_keyClickOn = !m_keyClickOn;
    Entry("EnableAtariKeyClickSound1")->setChecked(m_keyClickOn);
}

void Tmain::closeEvent(QCloseEvent* event) {
    if (!m_shutDown && m_session.LineUp() &&
        !AskYesNo(this, QStringLiteral("Telvora is connected. Disconnect and close?"))) {
        event->ignore();
        return;
    }
    // Everything that writes to the screen or the status bar ends before
    // they are destroyed.
    ShutDown();
    QMainWindow::closeEvent(event);
}

} // namespace telvora
