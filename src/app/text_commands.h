#pragma once

#include <QClipboard>
#include <QObject>

#include <string>

class QFileDialog;
class QKeyEvent;
class QWidget;

namespace telvora {

class TCrtScreen;
class TSession;

// What the window does with the screen as text: the Edit menu's Copy and
// Paste, the scrollback view's keys, Save Scrollback and Send Text File.
class TTextCommands : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kAtasciiMimeType = "application/x-atascii";

    // The window is the dialogs' and message boxes' parent.
    TTextCommands(QWidget& window, TCrtScreen& screen, TSession& session);

    // The selection to the clipboard as UTF-8 text and as ATASCII codes
    // (kAtasciiMimeType); nothing without a selection.
    void Copy();
    // The clipboard typed into the live line at a typing pace: its ATASCII
    // form as it is, otherwise the text mapped to ATASCII. False without a line.
    // Where the system has a primary selection (X11), a selection made with
    // the mouse fills it and the middle button types it the same way.
    bool Paste();
    // The dialogs of the session's Save Scrollback and Send Text File.
    void SaveScrollbackClick();
    void SendTextFileClick();
    // Shift+Page Up/Down and Shift+End move the scrollback view; true when
    // the key was one of them.
    bool ScrollbackKey(const QKeyEvent& event);

private:
    void CopyTo(QClipboard::Mode mode);
    bool PasteFrom(QClipboard::Mode mode);

    QWidget& m_window;
    TCrtScreen& m_screen;
    TSession& m_session;
    QFileDialog* m_scrollbackDialog = nullptr;
    QFileDialog* m_textDialog = nullptr;
};

} // namespace telvora
