#pragma once

#include "app/menu_status.h"
#include "app/typist.h"
#include "common/hand_over.h"
#include "common/text_helpers.h"
#include "connection/capture_file.h"
#include "connection/chunk_sink.h"
#include "connection/connection_thread.h"
#include "connection/serial/hayes_dialer.h"
#include "connection/serial/serial_settings.h"
#include "connection/telnet.h"
#include "connection/telnet/socket_resolver.h"
#include "connection/telnet/wsocket.h"
#include "connection/throttle.h"
#include "directory/host_directory.h"
#include "directory/login_steps.h"
#include "directory/settings_store.h"
#include "screen/shared_screen.h"
#include "transfer/transfer_request.h"
#include "transfer/transfer_run.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telvora {

class TLiveConnection;

// The program's session: the one connection that runs (a movie, a Telnet or
// a serial line), the settings it runs with, the transfer that has its line,
// the capture and recording files, and the status line's rounds. The window
// and the command line both drive it; it shows nothing itself and reports
// what happened by its signals.
//
// Every signal comes on the user-interface thread. Started, LineUp, Ended and
// Changed may come from inside a connection's own step; Notice never does,
// so that a receiver may show a modal box for it at once.
class TSession : public QObject, private TTransferRun::TObserver {
    Q_OBJECT

public:
    using Kind = TConnectionThread::Kind;

    static constexpr int kStatusIntervalMs = 1000;
    static constexpr int kWaitAndPumpRounds = 20;
    static constexpr int kWaitAndPumpSleepMs = 50;
    // Room for a modem's hang-up: DTR dropped, then "+++" between two guard times.
    static constexpr int kShutDownTimeoutMs = 5000;

    explicit TSession(QObject* parent = nullptr);
    ~TSession() override;
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    // The screen the connections write to; a view (the screen widget) shows it.
    SharedScreen& Screen() const { return *m_screen; }
    const std::shared_ptr<SharedScreen>& SharedModel() const { return m_screen; }

    // Each start stops what runs, clears the screen and then starts the new
    // connection. False when it was refused (a stop or the shutdown is under
    // way) or could not begin (the user is told by Notice).
    bool PlayMovie(const std::string& systemPath);
    // The port as a number or a service name; empty for 23. Raw TCP speaks
    // no Telnet and takes the Telnet connection's place and entries.
    bool ConnectTelnet(const std::string& host, const std::string& port,
                       TLineProtocol protocol = TLineProtocol::Telnet);
    // The serial line with the session's serial settings.
    bool AttachSerial(const std::string& device);
    // The serial line, then a modem's call through it; the line is up once
    // the modem has connected.
    bool DialModem(const std::string& device, const TModemSettings& modem);
    // The line settings of the next serial lines.
    void SetSerialSettings(const TSerialSettings& settings);
    const TSerialSettings& SerialSettings() const { return m_serialSettings; }
    // Keys to the running serial line's modem as ASCII and its answers as
    // lines; a CONNECT ends it. False without a serial line.
    bool SetModemCommandMode(bool on);
    bool ModemCommandMode() const;
    // Calls a host directory entry with its own type, width, connect
    // timeout and Escape setting (a Serial or Modem entry: its device, line
    // settings and call), counts the call in the directory and logs in by the
    // entry's steps with its user name and this password (empty: the steps
    // that need it are left out). False, connecting nothing, for a blank host
    // name or device.
    bool ConnectToHost(const THostRow& entry, const std::string& password = {});
    // Calls an address given without the directory (the command line's
    // telnet://[USER@]HOST) with the session's width, timeout and Escape
    // setting, logged in by the default steps when it names a user, and
    // counted nowhere. Either call is the board Redial calls again.
    bool CallAddress(const THostRow& address);
    // The last entry called, again.
    bool Redial();
    bool CanRedial() const { return !TrimBlanks(m_lastEntry.HostName).empty() && CanStart(); }
    const THostRow& LastEntry() const { return m_lastEntry; }
    // Types the last entry's user name and password, each with End Of Line,
    // into the live line; false without a line or a user name.
    bool SendLogin();
    // The answer to RawPeerOffered: switch the entry to Raw TCP and call it
    // again, or keep it as it is; either way the entry is not asked again.
    void AnswerRawPeerOffer(bool switchToRaw);
    // The directory the calls are counted in (tests give their own); the
    // session keeps the store in use for its whole life.
    void SetDirectoryStore(TSettingsStore* store) { m_directoryStore = store; }
    // The step all of them share: create returns the started connection, or
    // null when it failed; what it throws reaches the caller after the old
    // connection stopped.
    bool StartConnection(Kind kind, const std::function<TConnectionThread*()>& create);
    // Stops whatever runs: its stop flag, then about a second in which the
    // event loop goes on, so that its last steps are carried out.
    void StopConnection();
    // Writes the clear-screen code, as if the remote system had sent it.
    void ClearTerminal();

    TConnectionThread* Player() const { return m_player; }
    TConnectionThread* TelnetConn() const { return m_telnetConn; }
    TConnectionThread* SerialConn() const { return m_serialConn; }
    TConnectionThread* RunningConnection() const;
    // The running Telnet or serial connection, or null.
    TLiveConnection* LiveConnection() const;
    bool LineUp() const;
    bool Stopping() const { return m_stopping; }
    // Whether a start would be taken now.
    bool CanStart() const { return !m_stopping && !m_shutDown; }
    // Connection threads started and not yet ended (also those already
    // forgotten by a stop).
    int LiveConnections() const;
    bool LastConnectionFailed() const { return m_lastConnectionFailed; }
    // How new Telnet connections look host names up (tests give a slow one,
    // or one with addresses of both families).
    void SetHostLookup(THostLookup lookup) { m_hostLookup = lookup; }
    void SetHostLookup(THostAddressLookup lookup) { m_addressLookup = lookup; }
    // How long a Telnet or raw TCP connect may take before it is given up.
    void SetConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }
    std::chrono::milliseconds ConnectTimeout() const { return m_connectTimeout; }

    // The line speed of the running connection and the next ones.
    void SetSpeed(int speed);
    int Speed() const { return m_speed; }
    // Read when a transfer takes the line: whether the Telnet layer filters
    // its escapes during the transfer.
    void SetTelnetFilter(bool on);
    bool TelnetFilter() const { return m_telnetFilter; }
    // Escape shows the next code's glyph, whatever it is, as on the Atari.
    void SetEscapeShowsControls(bool on);
    bool EscapeShowsControls() const;
    // The screen's width: 40 columns, or an XEP80's 80. A change clears the
    // screen (its rows go into the scrollback at their old width) and
    // applies at once, to what runs too. False for any other width.
    bool SetColumns(int columns);
    int Columns() const;

    // A typed code to the live line. False when nothing was sent: no line
    // runs, a stop is under way, or sending failed (the user is told).
    bool SendKey(std::uint8_t code);

    // Types the codes into the live line at a typing pace, with no local
    // echo, as keys (a paste, a text file); skipped counts the characters of
    // the source that had no code. False, typing nothing, without a line.
    bool TypeCodes(std::vector<std::uint8_t> codes, int skipped = 0);
    void StopTyping() { m_typist.Stop(); }
    bool Typing() const { return m_typist.Typing(); }
    TTypist& Typist() { return m_typist; }

    // Transfers. The session reserves the line (what arrives is kept), starts
    // the request's state machine, then routes the line's bytes to it, the
    // kept ones first; once the machine has ended, the line's bytes go to the
    // screen again. One transfer at a time. False when no line runs, another
    // transfer has it, a stop is under way, or the transfer cannot begin (the
    // user is told by Notice).
    bool StartTransfer(const TTransferRequest& request);
    // The user's cancel, and the answer to the existing-file question.
    void CancelTransfer();
    void AnswerExisting(TExistingFile choice);
    // Whether a transfer has the line.
    bool InTransfer() const { return m_run && !m_endTold; }
    // The running or last transfer, or null.
    const TTransferRun* Transfer() const { return m_run.get(); }
    // How requests become state machines (tests give fakes).
    using TMachineMaker =
        std::function<std::unique_ptr<TTransferMachine>(const TTransferRequest&, TTransferPort&)>;
    void SetMachineMaker(TMachineMaker maker) { m_machineMaker = std::move(maker); }

    // Where a ZMODEM send the other side begins goes, and what a ZMODEM
    // download does with a file already there.
    void SetDownloadFolder(const std::string& folder) { m_downloadFolder = folder; }
    const std::string& DownloadFolder() const { return m_downloadFolder; }
    void SetExistingFiles(TExistingFile existing) { m_existing = existing; }
    TExistingFile ExistingFiles() const { return m_existing; }

    // Whether a ZMODEM send the other side begins on a live line is taken
    // by a download into the download folder (on at start). Its bytes wait
    // meanwhile; when no download can take them, they go to the screen.
    void SetAutoZmodem(bool on);
    bool AutoZmodem() const { return m_autoZmodem; }

    // A text file typed into the live line (UTF-8 text mapped to ATASCII, a
    // file already in ATASCII as it is); false (the user is told) when it
    // cannot be read or no line runs.
    bool SendTextFile(const std::string& path);
    // The scrollback and the screen into a file: UTF-8 text or an ATASCII
    // movie that replays them; by name, a movie for a name ending in .ata.
    // False (the user is told) on failure.
    enum class SaveAs { ByName, Text, Movie };
    bool SaveScrollback(const std::string& path, SaveAs form = SaveAs::ByName);

    // The hidden "Capture" entry's file: "capture" in the user's home folder.
    static QString CapturePath();
    bool StartCapture();
    void StopCapture();
    bool CaptureOn() const { return m_capture->IsOpen(); }
    // What the Telnet and serial connections show, as a movie.
    bool StartRecording(const std::string& path);
    void StopRecording();
    bool Recording() const { return m_recording->IsOpen(); }

    TMenuStatus& StatusMonitor() { return m_statusMonitor; }

    // Stops every connection and the status rounds; a running transfer is
    // told its line has gone first. Never waits longer than
    // kShutDownTimeoutMs for a connection thread: one still busy (a slow
    // name lookup) is refused every further step and ends on its own.
    // Idempotent.
    void ShutDown();

Q_SIGNALS:
    // A connection of this kind has started.
    void Started(telvora::TConnectionThread::Kind kind);
    // The running Telnet or serial line is up (connected, port open).
    void LineCameUp();
    // The connection has ended, on its own or stopped; the message is what
    // the user is told (also sent as a Notice), failed whether it failed.
    void Ended(const QString& message, bool failed);
    // The status line's two texts.
    void StatusChanged(const QString& kind, const QString& text);
    // Something the user should be told; information (a board's normal
    // goodbye) rather than a failure.
    void Notice(const QString& text, bool information = false);
    // What the menus show may have changed: the connection, a stop under
    // way, a setting, the recording.
    void Changed();
    // The last entry called is a Telnet entry whose board answered like a
    // plain TCP bridge, and it was not asked before: AnswerRawPeerOffer.
    void RawPeerOffered(const QString& entryName);
    // A transfer has the line (its state machine has started).
    void TransferStarted(const telvora::TTransferRequest& request);
    // The transfer's progress, its ending included, after the state
    // machine's lock was released.
    void TransferProgress(const telvora::TTransferProgress& progress);
    // The alert sound of a transfer's ending.
    void TransferAlert();
    // A file the sender names is already there: AnswerExisting says what
    // happens to it and to every later one of the transfer.
    void TransferAsks(const QString& path);
    // The transfer has ended and given the line back (or lost it).
    void TransferEnded(telvora::TTransferOutcome outcome);
    // A typing run's progress and its end (completed, or stopped or failed).
    void TypingProgress(int sent, int total, int skipped);
    void TypingEnded(bool completed);

private:
    QPointer<TConnectionThread>& SlotFor(Kind kind);
    void Register(Kind kind, TConnectionThread* connection);
    void ConnectionGone(TConnectionThread* connection);
    void ConnectionLineUp(TConnectionThread* connection);
    void ConnectionNotice(const QString& text);
    void StopOne(QPointer<TConnectionThread>& slot);
    void WaitAndPump();
    void ShutDownConnections();
    void LoseTransferLine();
    // The start watch of the live line, as auto-start says.
    void WatchForRemoteSends(TLiveConnection* line);
    void CountCall(const THostRow& entry);
    TSettingsStore& DirectoryStore();
    void RawPeerSeen(TConnectionThread* connection);
    void RemoteSendStarted();
    // TTransferRun::TObserver: any thread.
    void TransferNews() override;
    // User-interface thread: what the run noted goes out as signals.
    void TakeTransferNews();
    void GiveLineBack();
    bool OpenSessionFile(TCaptureFile& file, const std::string& path);
    void CloseSessionFile(TCaptureFile& file);
    // Tells the user later, outside the step that runs now.
    void NoticeLater(const QString& text, bool information = false);
    bool StartSerial(const std::string& device, const TSerialSettings& settings,
                     const std::optional<TModemSettings>& modem);
    enum class TCalled { Entry, Address };
    bool Call(const THostRow& entry, const std::string& password, TCalled called);
    // A Serial or Modem entry of the host directory, with its own settings.
    bool ConnectSerialEntry(const THostRow& entry);
    bool ConnectNetworkEntry(const THostRow& entry);
    void WaitForStoppedLines();

    // Shared with the connections, which may outlive the session by a moment.
    const std::shared_ptr<SharedScreen> m_screen = std::make_shared<SharedScreen>();
    THandOver m_later;
    TMenuStatus m_statusMonitor{kStatusIntervalMs};
    TTypist m_typist{[this](std::uint8_t code) { return SendKey(code); }};
    int m_speed = kUnthrottledSpeed;
    TSerialSettings m_serialSettings;
    bool m_telnetFilter = true;
    bool m_autoZmodem = true;
    bool m_stopping = false;
    bool m_shutDown = false;
    bool m_lastConnectionFailed = false;
    QPointer<TConnectionThread> m_player;
    QPointer<TConnectionThread> m_telnetConn;
    QPointer<TConnectionThread> m_serialConn;
    // Every connection thread that has not ended, for shutdown to stop and join.
    std::vector<QPointer<TConnectionThread>> m_liveThreads;
    // The running or last transfer (kept after its end, for what its
    // machine still sends: a cancel's CANs), its line, and whether its end
    // was told (the line given back): until then the transfer has the line.
    std::shared_ptr<TTransferRun> m_run;
    QPointer<TLiveConnection> m_runLine;
    bool m_endTold = true;
    std::atomic<bool> m_newsPosted{false};
    TMachineMaker m_machineMaker = MakeTransferMachine;
    std::string m_downloadFolder;
    TExistingFile m_existing = TExistingFile::Ask;
    THostLookup m_hostLookup = SystemHostLookup;
    THostAddressLookup m_addressLookup = nullptr;
    std::chrono::milliseconds m_connectTimeout = TWSocket::kDefaultConnectTimeout;
    // The entry last called and the password it was called with (kept in
    // memory only, for Redial and Send Login).
    THostRow m_lastEntry;
    std::string m_lastPassword;
    TCalled m_lastCalled = TCalled::Entry;
    // The login watch of the entry's line; set before the line starts, it
    // takes the next line that does.
    std::shared_ptr<TLoginWatch> m_loginWatch;
    QPointer<TLiveConnection> m_loginLine;
    std::unique_ptr<TSettingsStore> m_ownDirectoryStore;
    TSettingsStore* m_directoryStore = nullptr;
    // Shared with the connections, which append to them on their threads.
    std::shared_ptr<TCaptureFile> m_capture = std::make_shared<TCaptureFile>();
    std::shared_ptr<TCaptureFile> m_recording =
        std::make_shared<TCaptureFile>("recording", "Recording has stopped; the session goes on.");
};

} // namespace telvora
