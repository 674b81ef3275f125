#include "connection/play_atascii.h"

#include "common/qt_text.h"

#include <QFileInfo>

#include <thread>

namespace telvora {

TPlayAtascii::TPlayAtascii(const std::string& moviePath, int speed,
                           std::shared_ptr<TScreenSink> screen)
    : TConnectionThread(speed), m_movieName(QFileInfo(FileNameFromSystem(moviePath)).fileName()),
      m_file(std::make_unique<TMovieFile>(moviePath)), m_screen(std::move(screen)) {}

QString TPlayAtascii::StatusText() const {
    return QStringLiteral("Playing: ") + m_movieName;
}

void TPlayAtascii::SetSpeed(int speed) {
    TConnectionThread::SetSpeed(speed);
    m_speedChanged = true;
}

void TPlayAtascii::run() {
    QString failure;
    try {
        m_movie = m_file->ReadAll();
    } catch (const EMovieError& error) {
        failure = QString::fromStdString(error.what());
    }
    m_file.reset();
    try {
        std::size_t index = 0;
        bool handedOver = true;
        while (failure.isEmpty() && handedOver && index < m_movie.size()) {
            const int delay = Delay();
            handedOver = delay == 0 ? PlayUnthrottled(index) : PlayThrottled(index, delay);
            // After a stop request at most the byte (or run) just written was played.
            if (StopRequested()) {
                break;
            }
        }
    } catch (const std::exception& error) {
        failure = QString::fromStdString(error.what());
    }
    m_movie.clear();
    m_movie.shrink_to_fit();
    ReportEnd(failure, failure.isEmpty() ? Outcome::Normal : Outcome::Failed);
}

bool TPlayAtascii::PlayThrottled(std::size_t& index, int delay) {
    if (index == 0 || m_speedChanged.exchange(false)) {
        m_pacer.Restart();
    }
    m_pacer.WaitForNext(delay);
    const std::uint8_t byte = m_movie[index];
    ++index;
    return OnUserInterfaceThread([this, byte] {
        if (m_screen) {
            m_screen->WriteByte(byte);
        }
    });
}

bool TPlayAtascii::PlayUnthrottled(std::size_t& index) {
    // The hand-over of single bytes would set the pace; runs of bytes through
    // the block write keep order and content and take a fraction of the time.
    std::this_thread::yield();
    const std::size_t count = std::min(kUnthrottledRun, m_movie.size() - index);
    const std::uint8_t* run = m_movie.data() + index;
    index += count;
    m_speedChanged = true;
    return OnUserInterfaceThread([this, run, count] {
        if (m_screen) {
            m_screen->WriteBlock(run, count);
        }
    });
}

} // namespace telvora
