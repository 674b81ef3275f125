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
    enum class Kind { Movie, Telnet, Serial };

    // Create on the user-interface thread.
    explicit TConnectionThread(int speed, QObject* parent = nullptr);
    ~TConnectionThread() override;

    virtual Kind ConnectionKind() const = 0;
    // The second status panel's text, read on the user-interface thread.
    virtual QString StatusText() const = 0;

    // Starts the thread; the object deletes itself once the thread has ended.
    void Start(QThread::Priority priority = QThread::InheritPriority);
    void RequestStop() { m_stop = true; }
    bool StopRequested() const { return m_stop; }
    // Stops the thread and refuses its hand-overs from now on; for closing.
    void ShutDown();

    // Takes effect from the next byte.
    virtual void SetSpeed(int speed);
    int Speed() const { return m_speed; }
    int Delay() const { return m_delay; }

    // What went wrong in the thread's body, for the user; empty when nothing
    // did. Read on the user-interface thread after Ended.
    const QString& ErrorText() const { return m_errorText; }

Q_SIGNALS:
    // The connection's last step, on the user-interface thread.
    void Ended(TConnectionThread* connection);

protected:
    // Runs step on the user-interface thread and waits for it; false when it
    // was refused because the program is closing.
    bool OnUserInterfaceThread(std::function<void()> step);
    // The end steps: records the error (if any) and reports the end.
    void ReportEnd(const QString& errorText = {});

private:
    THandOver m_ui;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_speed;
    std::atomic<int> m_delay;
    QString m_errorText;
};

} // namespace telvora
