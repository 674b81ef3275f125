#include "connection/play_atascii.h"

#include "screen/crt_screen.h"

#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <thread>

namespace telvora {

namespace {

using Clock = std::chrono::steady_clock;

// Lateness up to this much is made up by sending the next bytes without
// waiting; a longer stall restarts the schedule, so that no long burst follows.
constexpr auto kStallLimit = std::chrono::milliseconds(50);

std::vector<std::uint8_t> LoadMovie(const QString& path) {
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        const QString reason =
            QFileInfo(path).isDir() ? QStringLiteral("It is a folder.") : file.errorString();
        throw EMovieError(
            QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason).toStdString());
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw EMovieError(QStringLiteral("Cannot read file \"%1\". %2")
                              .arg(path, file.errorString())
                              .toStdString());
    }
    return {bytes.begin(), bytes.end()};
}

} // namespace

TPlayAtascii::TPlayAtascii(const QString& moviePath, int speed, TCrtScreen* screen,
                           ConnectionEntries entries, EndHandler onEnded)
    : TConnectionThread(speed), m_screen(screen), m_entries(std::move(entries)),
      m_onEnded(std::move(onEnded)) {
    m_movie = LoadMovie(moviePath);
    m_movieName = QFileInfo(moviePath).fileName();
    ApplyMenuState(true);
}

QString TPlayAtascii::StatusText() const {
    return QStringLiteral("Playing: ") + m_movieName;
}

void TPlayAtascii::SetSpeed(int speed) {
    TConnectionThread::SetSpeed(speed);
    m_speedChanged = true;
}

void TPlayAtascii::run() {
    std::size_t index = 0;
    while (index < m_movie.size()) {
        const int delay = Delay();
        if (delay == 0) {
            PlayUnthrottled(index);
        } else {
            PlayThrottled(index, delay);
        }
        // After a stop request at most the byte (or run) just written was played.
        if (StopRequested()) {
            break;
        }
    }
    EndSteps();
}

void TPlayAtascii::PlayThrottled(std::size_t& index, int delay) {
    // Each byte is due `delay` ms after the previous one was due, so sleep
    // overshoot and the hand-over do not slow the line down. After a speed
    // change or a stall the schedule starts again from now.
    const auto now = Clock::now();
    const auto step = std::chrono::milliseconds(delay);
    if (index == 0 || m_speedChanged.exchange(false) ||
        now > m_due + step + std::max<Clock::duration>(step, kStallLimit)) {
        m_due = now;
    }
    m_due += step;
    std::this_thread::sleep_until(m_due);
    const std::uint8_t byte = m_movie[index];
    OnUserInterfaceThread([this, byte] {
        if (m_screen) {
            m_screen->WriteByte(byte);
        }
    });
    ++index;
}

void TPlayAtascii::PlayUnthrottled(std::size_t& index) {
    // The hand-over of single bytes would set the pace; runs of bytes through
    // the block write keep order and content and take a fraction of the time.
    std::this_thread::yield();
    const std::size_t count = std::min(kUnthrottledRun, m_movie.size() - index);
    const std::uint8_t* run = m_movie.data() + index;
    OnUserInterfaceThread([this, run, count] {
        if (m_screen) {
            m_screen->WriteBlock(run, count);
        }
    });
    index += count;
    m_speedChanged = true;
}

void TPlayAtascii::OnUserInterfaceThread(const std::function<void()>& step) {
    // This object belongs to the user-interface thread; the player waits
    // until the step has run there.
    QMetaObject::invokeMethod(this, step, Qt::BlockingQueuedConnection);
}

void TPlayAtascii::ApplyMenuState(bool playing) {
    if (m_entries.download) {
        m_entries.download->setEnabled(false);
    }
    if (m_entries.start) {
        m_entries.start->setEnabled(!playing);
    }
    if (m_entries.stop) {
        m_entries.stop->setEnabled(playing);
    }
}

void TPlayAtascii::EndSteps() {
    OnUserInterfaceThread([this] {
        ApplyMenuState(false);
        if (m_onEnded) {
            m_onEnded(this);
        }
    });
    m_movie.clear();
    m_movie.shrink_to_fit();
}

} // namespace telvora
