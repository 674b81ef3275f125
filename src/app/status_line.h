#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;

namespace telvora {

class TCrtScreen;
class TSession;

// The window's two status panels: the first names the connection's kind,
// the second joins what the session says with what the window adds (the
// scrollback view, a paste being typed and what it skipped, a recording,
// the Inverse key).
class TStatusLine : public QObject {
    Q_OBJECT

public:
    TStatusLine(QStatusBar& bar, TSession& session, TCrtScreen& screen);

    QLabel* Panel1() const { return m_panel1; }
    QLabel* Panel2() const { return m_panel2; }
    void SetInverse(bool on);

private:
    void TypingProgress(int sent, int total, int skipped);
    void TypingEnded();
    void Show();

    TSession& m_session;
    QLabel* m_panel1 = nullptr;
    QLabel* m_panel2 = nullptr;
    QString m_kind;
    QString m_text;
    QString m_viewText;
    QString m_typingText;
    // What the last paste could not type; it stays after the paste has
    // ended, so that the user sees it, until the next paste begins.
    QString m_skippedText;
    bool m_inverse = false;
};

} // namespace telvora
