#include "connection/connection_thread.h"

#include "connection/throttle.h"

namespace telvora {

TConnectionThread::TConnectionThread(int speed, QObject* parent)
    : QThread(parent), m_speed(speed), m_delay(ThrottleDelay(speed)) {}

void TConnectionThread::Start(QThread::Priority priority) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start(priority);
}

void TConnectionThread::SetSpeed(int speed) {
    m_speed = speed;
    m_delay = ThrottleDelay(speed);
}

} // namespace telvora
