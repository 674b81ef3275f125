#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace telvora {

// SIGTERM, SIGINT and SIGHUP on the user-interface thread: the handler only
// writes the signal's number into a pipe, which this thread reads, so that
// the program can end as Close would (the transfer cancelled, the line
// closed, the recording closed whole) before it goes. While one exists, those
// signals no longer end the program at once. One at a time.
class TSignalWatch : public QObject {
    Q_OBJECT

public:
    explicit TSignalWatch(QObject* parent = nullptr);
    ~TSignalWatch() override;
    TSignalWatch(const TSignalWatch&) = delete;
    TSignalWatch& operator=(const TSignalWatch&) = delete;

    // The signal caught last in this process, or 0.
    static int Caught();
    // Once everything is closed: ends the process as the signal would have.
    [[noreturn]] static void EndAsSignalled(int signal);

Q_SIGNALS:
    void SignalCaught(int signal);

private:
    void Read();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace telvora
