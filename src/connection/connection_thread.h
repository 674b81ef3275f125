#pragma once

#include "common/hand_over.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

namespace telvora {

// What the main window and the status line know of a running connection:
// a movie player, a Telnet or a serial connection. Each runs its own thread,
// is stopped only by its stop flag, and releases itself when its thread ends.
//
// A connection reports what happened and leaves the menus to the window: its
// last step, on the user-interface thread, emits Ended. Every step it runs on
// the user-interface thread goes through its hand-over, which the window
// shuts down when the program closes: a connection still running then is
// refused and touches nothing of the window again.
class TConnectionThread : public QThread {
    Q_OBJECT

public:
    // Raw is a TCP line without Telnet (a BBS behind a plain TCP bridge).
    enum class Kind { Movie, Telnet, Serial, Raw };

    // Create on the user-interface thread.
    explicit TConnectionThread(int speed, QObject* parent = nullptr);
    ~TConnectionThread() override;

    virtual Kind ConnectionKind() const = 0;
    // The second status panel's text, read on the user-interface thread.
    virtual QString StatusText() const = 0;
    // What the first status panel adds to the kind: a serial line's
    // settings ("9600 8N1"); empty for none.
    virtual QString LineSettingsText() const { return {}; }

    // Starts the thread; the object deletes itself once the thread has ended.
    void Start(QThread::Priority priority = QThread::InheritPriority);
    // Sets the stop flag; returns at once. Any thread.
    void RequestStop();
    bool StopRequested() const { return m_stop; }
    // Stops the thread and refuses its hand-overs from now on; for closing.
    void ShutDown();

    // Takes effect from the next byte.
    virtual void SetSpeed(int speed);
    int Speed() const { return m_speed; }
    int Delay() const { return m_delay; }

    // What the user is told when the connection has ended (what went wrong,
    // or that the remote side closed); empty for nothing. Read on the
    // user-interface thread after Ended.
    const QString& EndMessage() const { return m_endMessage; }
    // Whether the connection ended because something failed (it could not
    // be made, the port could not be opened, the movie could not be read).
    bool EndedInFailure() const { return m_failed; }

Q_SIGNALS:
    // The connection's last step, on the user-interface thread.
    void Ended(TConnectionThread* connection);
    // The line is up (the socket connected, the port open), on the
    // user-interface thread.
    void LineCameUp(TConnectionThread* connection);
    // Something the user should be told while the connection goes on (the
    // capture file could not be written), on the user-interface thread.
    void Notice(TConnectionThread* connection, const QString& text);

protected:
    // Runs step on the user-interface thread and waits for it; false when it
    // was refused because the program is closing.
    bool OnUserInterfaceThread(std::function<void()> step);
    // Runs step on the user-interface thread without waiting for it.
    bool PostToUserInterfaceThread(std::function<void()> step);
    // The end steps: records what to tell the user and reports the end.
    enum class Outcome { Normal, Failed };
    void ReportEnd(const QString& message = {}, Outcome outcome = Outcome::Normal);
    // Tells the user something without ending and without waiting.
    void ReportNotice(const QString& text);
    // Reports that the line is up, from any thread, without waiting.
    void ReportLineUp();
    // Called by RequestStop after the flag is set, on the caller's thread:
    // a thread that sleeps or waits is woken here.
    virtual void StopRequestedHook() {}

private:
    THandOver m_ui;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_speed;
    std::atomic<int> m_delay;
    QString m_endMessage;
    bool m_failed = false;
};

} // namespace telvora
