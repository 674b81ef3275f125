#pragma once

#include "connection/connection_thread.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

namespace telvora {

class TCrtScreen;

// A movie file that cannot be read; the text is ready for the user.
class EMovieError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The menu entries a connection enables and disables at its start and end.
struct ConnectionEntries {
    QPointer<QAction> start;
    QPointer<QAction> stop;
    QPointer<QMenu> download;
};

// Plays an ATASCII movie: a file of recorded terminal output, written to the
// screen byte by byte at the pace of the selected line speed. Every write
// happens on the user-interface thread while the player waits.
class TPlayAtascii : public TConnectionThread {
    Q_OBJECT

public:
    // Run on the user-interface thread when playing has ended, after the menu
    // entries were restored; the owner forgets the player there.
    using EndHandler = std::function<void(TPlayAtascii*)>;

    // Loads the whole file and applies the start menu states; throws
    // EMovieError when the file cannot be read. Call Start() to play.
    TPlayAtascii(const QString& moviePath, int speed, TCrtScreen* screen, ConnectionEntries entries,
                 EndHandler onEnded);

    Kind ConnectionKind() const override { return Kind::Movie; }
    QString StatusText() const override;
    void SetSpeed(int speed) override;

    const QString& MovieName() const { return m_movieName; }

    // Unthrottled playback hands over runs of at most this many bytes, so the
    // user-interface thread is never busy for long and a stop comes quickly.
    static constexpr std::size_t kUnthrottledRun = 16 * 1024;

protected:
    void run() override;

private:
    void PlayThrottled(std::size_t& index, int delay);
    void PlayUnthrottled(std::size_t& index);
    void OnUserInterfaceThread(const std::function<void()>& step);
    void ApplyMenuState(bool playing);
    void EndSteps();

    QString m_movieName;
    std::vector<std::uint8_t> m_movie;
    QPointer<TCrtScreen> m_screen;
    ConnectionEntries m_entries;
    EndHandler m_onEnded;
    // Set by SetSpeed so that the pacing restarts from now.
    std::atomic<bool> m_speedChanged{false};
    // When the next byte is due; used by the player thread only.
    std::chrono::steady_clock::time_point m_due;
};

} // namespace telvora
