#pragma once

#include "connection/connection_thread.h"
#include "connection/movie_file.h"
#include "connection/pacer.h"

#include "connection/screen_sink.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace telvora {

// Plays an ATASCII movie: a file of recorded terminal output, written to the
// screen byte by byte at the pace of the selected line speed. The file is
// read on the player's thread; every write happens on the user-interface
// thread while the player waits.
class TPlayAtascii : public TConnectionThread {
    Q_OBJECT

public:
    // Opens the file (a regular file of at most TMovieFile::kMaxMovieBytes,
    // the path as the system's bytes); throws EMovieError when it cannot be
    // played. Call Start() to play.
    TPlayAtascii(const std::string& moviePath, int speed, std::shared_ptr<TScreenSink> screen);

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
    // False when the hand-over was refused (the program is closing).
    bool PlayThrottled(std::size_t& index, int delay);
    bool PlayUnthrottled(std::size_t& index);

    QString m_movieName;
    std::unique_ptr<TMovieFile> m_file;
    std::vector<std::uint8_t> m_movie;
    const std::shared_ptr<TScreenSink> m_screen;
    // Set by SetSpeed so that the pacing restarts from now.
    std::atomic<bool> m_speedChanged{false};
    // Used by the player thread only.
    TPacer m_pacer;
};

} // namespace telvora
