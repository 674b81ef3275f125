#pragma once

#include "keyboard/caps_lock_state.h"
#include "transfer/send_protocol.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <string>
#include <vector>

class QAction;
class QFileDialog;
class QKeyEvent;
class QLabel;
class QMenu;

namespace telvora {

class Tabout;
class TCrtScreen;
class TDialer;
class TSession;
class TStatusLine;
class TTextCommands;
class TSerialCommands;
class TTransferCommands;
class WavePlayer;

// The program's window: the session's screen, the menu bar and the two-panel
// status bar. Its commands run their dialogs and then call the session; it
// sets its menu entries and status panels from what the session reports. It
// also keeps the key click and the two transfer windows.
class Tmain : public QMainWindow {
    Q_OBJECT

public:
    // The screen's Medium size: the glyphs stretched by this many pixels.
    static constexpr int kMediumFontDelta = 8;
    // Without sound no audio object is made at all (for runs without a window).
    enum class Sound { On, Off };
    // The window takes the session's screen as its own; the session must
    // outlive the window, which shuts it down when it closes.
    explicit Tmain(TSession& session, Sound sound = Sound::On, QWidget* parent = nullptr);
    ~Tmain() override;

    TSession& Session() const { return m_session; }
    TCrtScreen* Screen() const { return m_acrt; }
    bool KeyClickOn() const { return m_keyClickOn; }
    // The Atari's Inverse key: while on, typed codes come in inverse video,
    // as with Alt. F10 (no code in the key tables) or the Terminal menu.
    bool InverseOn() const { return m_inverseOn; }
    void SetInverse(bool on);
    void PlaySound();
    // The screen's cell size, as the Size entries set it (0, 8 or 16). In
    // full screen it is kept for the return to the window.
    void SetFontDelta(int delta);
    // The screen alone at the largest whole-number scale that fits, centred
    // on black, without menus or status bar; F11 or the Terminal menu's
    // entry switches it.
    void SetFullScreen(bool on);
    bool FullScreenOn() const { return m_fullScreen; }

    // The Download and Upload menus' commands and windows.
    TTransferCommands& Transfers() const { return *m_transfers; }
    // The Serial Port menu's dialogs.
    TSerialCommands& Serial() const { return *m_serial; }
    // Where "Play ATASCII Movie" opens: the demo movies beside the program
    // (a build) or in share/telvora/MOVIES (an installation).
    static QString DemoMovieFolder();

    // The screen as text: copy, paste, the scrollback view's keys, saving
    // the scrollback, typing a text file.
    TTextCommands& TextCommands() const { return *m_text; }

    // Shuts the session down and releases the sounds; for closing. Idempotent.
    void ShutDown();

    Tabout* AboutBox() const { return m_about; }
    TDialer* Dialer() const { return m_dialer; }

    // The status bar's two panels.
    QLabel* StatusPanel1() const;
    QLabel* StatusPanel2() const;

    // Menu entries, named as the menu table names them.
    QAction* Entry(const char* name) const;
    QMenu* DownloadMenu() const { return m_mDownload; }
    QMenu* UploadMenu() const { return m_mUpload; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildScreen();
    void BuildMenus();
    void BuildDirectoryEntries(QMenu* connectTo);
    void BuildConnectMenus(QMenu* connectTo, QMenu* movies);
    void BuildTerminalMenu(QMenu* terminal);
    void BuildTransferMenus();
    void BuildEditMenu();
    void FormCreate();
    void FitToScreen();
    // In full screen: the scale that fits the client area, and the screen
    // centred in it.
    void PlaceFullScreen();
    void ShutDownSounds();
    // What the menus show, from the session.
    void RefreshMenus();
    void ShowNotice(const QString& text, bool information);

    void N300BPS1Click(QAction* sender);
    void Small1Click(QAction* sender);
    void EnableAtariKeyClickSound1Click();
    void M_PlayMovieClick();
    void M_TelnetStartClick();
    void Capture1Click();
    void RecordSession1Click();
    void BuzzerSounded();
    // A key pressed on the screen: translated and sent to the live line,
    // with a click; nothing while a stop is under way or during a movie.
    void ACRTKeyDown(QKeyEvent* event);

    QAction* AddEntry(QMenu* menu, const char* name, const QString& caption, int tag = 0);

    TSession& m_session;
    TCrtScreen* m_acrt = nullptr;
    QWidget* m_client = nullptr;
    TStatusLine* m_status = nullptr;
    QMenu* m_mDownload = nullptr;
    QMenu* m_mUpload = nullptr;
    WavePlayer* m_sounds = nullptr;
    bool m_soundsAsked = false;
    Tabout* m_about = nullptr;
    TDialer* m_dialer = nullptr;
    QFileDialog* m_recordDialog = nullptr;
    TTextCommands* m_text = nullptr;
    TTransferCommands* m_transfers = nullptr;
    TSerialCommands* m_serial = nullptr;

    bool m_keyClickOn = true;
    bool m_inverseOn = false;
    bool m_fullScreen = false;
    // The Size entries' delta, which full screen overrides while on.
    int m_windowFontDelta = 0;
    bool m_shutDown = false;
    bool m_withSound = true;
    TCapsLockState m_capsLock;
};

} // namespace telvora
