#pragma once

#include <QString>
#include <QThread>

#include <atomic>

namespace telvora {

// What the main window and the status line know of a running connection:
// a movie player, a Telnet or a serial connection. Each runs its own thread,
// is stopped only by its stop flag, and releases itself when its thread ends.
class TConnectionThread : public QThread {
    Q_OBJECT

public:
    enum class Kind { Movie, Telnet, Serial };

    explicit TConnectionThread(int speed, QObject* parent = nullptr);

    virtual Kind ConnectionKind() const = 0;
    // The second status panel's text, read on the user-interface thread.
    virtual QString StatusText() const = 0;

    // Starts the thread; the object deletes itself once the thread has ended.
    void Start(QThread::Priority priority = QThread::InheritPriority);
    void RequestStop() { m_stop = true; }
    bool StopRequested() const { return m_stop; }

    // Takes effect from the next byte.
    virtual void SetSpeed(int speed);
    int Speed() const { return m_speed; }
    int Delay() const { return m_delay; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_speed;
    std::atomic<int> m_delay;
};

} // namespace telvora
