#pragma once

#include "connection/capture_file.h"
#include "connection/chunk_sink.h"
#include "connection/connection_thread.h"
#include "connection/serial/select_port.h"
#include "connection/telnet/socket_resolver.h"
#include "keyboard/caps_lock_state.h"
#include "transfer/block_sender.h"

#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QFileDialog;
class QKeyEvent;
class QLabel;
class QMenu;
class QStatusBar;

namespace telvora {

class Tabout;
class TCrtScreen;
class TChooseDir;
class TDialer;
class TLiveConnection;
class TProtocol;
class TUpload;
class TTransferWindow;
class TMenuStatus;
class WavePlayer;

// The program's window: the 40x24 screen, the menu bar and the two-panel
// status bar. It owns the program's state (speed, size, key click, the one
// running connection) and is the only place connections start and stop.
class Tmain : public QMainWindow {
    Q_OBJECT

public:
    // Without sound no audio object is made at all (for runs without a window).
    enum class Sound { On, Off };
    explicit Tmain(Sound sound = Sound::On, QWidget* parent = nullptr);
    ~Tmain() override;

    TCrtScreen* Screen() const { return m_acrt; }
    int Speed() const { return m_speed; }
    bool KeyClickOn() const { return m_keyClickOn; }
    bool Stopping() const { return m_stopping; }
    bool InTransfer() const { return m_transferMode; }
    // While on, the live line's received blocks go whole to the receiver
    // (the Telnet layer raw, filtered as "Filter TELNET Escape Codes During
    // File Transfers" is checked now) instead of the screen.
    void SetTransferMode(bool on, std::shared_ptr<TChunkSink> receiver = nullptr);

    // The running connection of each kind, or none.
    TConnectionThread* Player() const { return m_player; }
    TConnectionThread* TelnetConn() const { return m_telnetConn; }
    TConnectionThread* SerialConn() const { return m_serialConn; }
    TConnectionThread* RunningConnection() const;

    // Stops what runs, clears the screen, then creates the new connection and
    // remembers it as `kind`. `create` returns nullptr when it fails; a failure
    // it reports by throwing reaches the caller after the old connection stopped.
    // Refused (false, nothing created) while a stop is under way.
    bool StartConnection(TConnectionThread::Kind kind,
                         const std::function<TConnectionThread*()>& create);
    void StopConnection();
    void ClearTerminal();
    void PlaySound();

    // Starts playing a movie file as "&Play ATASCII Movie" does after its
    // dialog. Returns false, after telling the user, when the file cannot be read.
    bool PlayMovie(const QString& path);
    // The same with the path as the system's bytes (from the command line),
    // which need not be valid UTF-8.
    bool PlayMovie(const std::string& systemPath);
    // Connects to a Telnet host as "Connect To Remote Host" does after the
    // host directory (the port as a number or a service name, empty for 23).
    bool ConnectTelnet(const QString& host, const QString& port);
    // Attaches to a serial device as "Attach To Serial Port" does after the
    // port selection; the path as the system's bytes.
    bool AttachSerial(const std::string& device);
    // Downloads over the live line, as the Download menu starts them after
    // its dialog: into one file, or the files a batch names into a folder.
    // The transfer window is shown modally until the user closes it (or
    // until it is closed for them). False when no line runs or the file
    // cannot be created (the user is told).
    bool ReceiveFile(const std::string& path);
    bool ReceiveBatch(const std::string& folder);
    // An upload over the live line, as the Upload menu starts it after its
    // dialog: X-Modem sends one file, Y-Modem the files in this order. False
    // when no line runs, a transfer runs, or a file cannot be read (the user
    // is told).
    bool SendFiles(TSendProtocol protocol, const std::vector<std::string>& paths);
    // Whether the running Telnet or serial line is up.
    bool LineUp() const;
    // How new Telnet connections look host names up (tests give a slow one).
    void SetHostLookup(THostLookup lookup) { m_hostLookup = lookup; }
    // Where the port selection finds the serial ports (tests give their own).
    void SetPortSource(TSelectPort::TPortSource source) { m_portSource = std::move(source); }
    // Records what the Telnet and serial connections show into the file, as
    // "Record Session..." does after its dialog; false (the user is told)
    // when it cannot be created.
    bool StartRecording(const std::string& path);
    bool Recording() const { return m_recording->IsOpen(); }
    // Where "Play ATASCII Movie" opens: the demo movies beside the program
    // (a build) or in share/telvora/MOVIES (an installation).
    static QString DemoMovieFolder();
    // The hidden "Capture" entry's file: "capture" in the user's home folder.
    static QString CapturePath();
    bool CaptureOn() const { return m_capture->IsOpen(); }

    // Stops every connection and the status monitor and releases the sounds;
    // for closing. Never waits longer than kShutDownTimeoutMs for a connection
    // thread: one that is still busy (a slow name lookup) is refused every
    // further step and left to end on its own. Idempotent.
    void ShutDown();
    // Connection threads started and not yet ended (also those whose slot was
    // already cleared by a stop).
    int LiveConnections() const;
    // Whether the last connection that ended reported an error.
    bool LastConnectionFailed() const { return m_lastConnectionFailed; }

    TMenuStatus* StatusMonitor() const { return m_statusMonitor; }
    Tabout* AboutBox() const { return m_about; }
    TDialer* Dialer() const { return m_dialer; }
    TProtocol* Protocol() const { return m_protocol; }
    TUpload* Upload() const { return m_upload; }
    // The download and the upload window (null before the window is made).
    std::array<TTransferWindow*, 2> TransferWindows() const;
    TChooseDir* ChooseDir() const { return m_chooseDir; }

    // The status bar's two panels.
    QLabel* StatusPanel1() const { return m_panel1; }
    QLabel* StatusPanel2() const { return m_panel2; }

    // Menu entries, named as the menu table names them.
    QAction* Entry(const char* name) const;
    QMenu* DownloadMenu() const { return m_mDownload; }
    QMenu* UploadMenu() const { return m_mUpload; }

Q_SIGNALS:
    // A connection or movie has ended, on its own or stopped.
    void ConnectionEnded();

public:
    static constexpr int kStatusBarHeight = 17;
    static constexpr int kWaitAndPumpRounds = 20;
    static constexpr int kWaitAndPumpSleepMs = 50;
    static constexpr int kShutDownTimeoutMs = 3000;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildScreen();
    void BuildMenus();
    void BuildStatusBar();
    void FormCreate();
    void FitToScreen();
    void WaitAndPump();
    void StopOne(QPointer<TConnectionThread>& connection);
    void ShutDownConnections();
    void ShutDownSounds();
    void Register(TConnectionThread::Kind kind, TConnectionThread* connection);
    void ConnectionGone(TConnectionThread* connection);
    void RefreshConnectionMenus();
    QPointer<TConnectionThread>& SlotFor(TConnectionThread::Kind kind);

    void N300BPS1Click(QAction* sender);
    void Small1Click(QAction* sender);
    void EnableAtariKeyClickSound1Click();
    void Clear1Click() { ClearTerminal(); }
    void Exit1Click();
    void M_PlayMovieClick();
    void M_StopMovieClick() { StopConnection(); }
    void M_TelnetStartClick();
    void M_TelnetStopClick() { StopConnection(); }
    void M_SerialAttach();
    void M_SerialDetach() { StopConnection(); }
    void Capture1Click();
    void RecordSession1Click();
    void RefreshRecordingEntry();
    bool OpenSessionFile(TCaptureFile& file, const std::string& path);
    void CloseSessionFile(TCaptureFile& file);
    void StartTransfer1Click();
    void Receive1Click();
    bool Receive(bool batch, const std::string& where);
    void UploadClick(TSendProtocol protocol);
    bool TransferRunning() const;
    // Runs the prepared transfer window until the user closes it; start
    // prepares it and raises when it cannot begin (the user is told).
    bool RunTransfer(TTransferWindow& window, const std::function<void(TLiveConnection*)>& start);
    void ConnectionNotice(TConnectionThread* connection, const QString& text);
    TLiveConnection* LiveConnection() const;
    void About1Click();
    void BuzzerSounded();
    // A key pressed on the screen: translated and sent to the live line,
    // with a click; nothing while a stop is under way or during a movie.
    void ACRTKeyDown(QKeyEvent* event);

    QAction* AddEntry(QMenu* menu, const char* name, const QString& caption, int tag = 0);

    TCrtScreen* m_acrt = nullptr;
    QWidget* m_client = nullptr;
    QLabel* m_panel1 = nullptr;
    QLabel* m_panel2 = nullptr;
    QMenu* m_mDownload = nullptr;
    QMenu* m_mUpload = nullptr;
    WavePlayer* m_sounds = nullptr;
    TMenuStatus* m_statusMonitor = nullptr;
    Tabout* m_about = nullptr;
    TDialer* m_dialer = nullptr;
    TProtocol* m_protocol = nullptr;
    TUpload* m_upload = nullptr;
    TChooseDir* m_chooseDir = nullptr;
    QFileDialog* m_saveDialog = nullptr;
    QFileDialog* m_openDialog = nullptr;
    QFileDialog* m_recordDialog = nullptr;

    int m_speed = 0;
    bool m_transferMode = false;
    bool m_keyClickOn = true;
    bool m_stopping = false;
    QPointer<TConnectionThread> m_player;
    QPointer<TConnectionThread> m_telnetConn;
    QPointer<TConnectionThread> m_serialConn;
    // Every connection thread that has not ended, for shutdown to stop and join.
    std::vector<QPointer<TConnectionThread>> m_liveThreads;
    bool m_lastConnectionFailed = false;
    bool m_shutDown = false;
    bool m_withSound = true;
    TCapsLockState m_capsLock;
    THostLookup m_hostLookup = SystemHostLookup;
    TSelectPort::TPortSource m_portSource;
    // Shared with the Telnet connections, which append to it on their thread.
    std::shared_ptr<TCaptureFile> m_capture = std::make_shared<TCaptureFile>();
    std::shared_ptr<TCaptureFile> m_recording =
        std::make_shared<TCaptureFile>("recording", "Recording has stopped; the session goes on.");
};

} // namespace telvora
