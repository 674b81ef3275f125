#include "connection/connection_thread.h"

#include "connection/throttle.h"

namespace telvora {

TConnectionThread::TConnectionThread(int speed, QObject* parent)
    : QThread(parent), m_speed(speed), m_delay(ThrottleDelay(speed)) {}

TConnectionThread::~TConnectionThread() {
    m_ui.ShutDown();
}

void TConnectionThread::Start(QThread::Priority priority) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start(priority);
}

void TConnectionThread::RequestStop() {
    m_stop = true;
    StopRequestedHook();
}

void TConnectionThread::ShutDown() {
    RequestStop();
    m_ui.ShutDown();
}

void TConnectionThread::SetSpeed(int speed) {
    m_speed = speed;
    m_delay = ThrottleDelay(speed);
}

bool TConnectionThread::OnUserInterfaceThread(std::function<void()> step) {
    return m_ui.RunAndWait(std::move(step));
}

bool TConnectionThread::PostToUserInterfaceThread(std::function<void()> step) {
    return m_ui.Post(std::move(step));
}

void TConnectionThread::ReportNotice(const QString& text) {
    PostToUserInterfaceThread([this, text] { Q_EMIT Notice(this, text); });
}

void TConnectionThread::ReportLineUp() {
    PostToUserInterfaceThread([this] { Q_EMIT LineCameUp(this); });
}

void TConnectionThread::ReportEnd(const QString& message, Outcome outcome) {
    try {
        OnUserInterfaceThread([this, message, outcome] {
            m_endMessage = message;
            m_failed = outcome == Outcome::Failed;
            Q_EMIT Ended(this);
        });
    } catch (...) {
        // The window's end handler failed; the thread ends all the same.
    }
}

} // namespace telvora
