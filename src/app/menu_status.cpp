#include "app/menu_status.h"

#include <exception>

namespace telvora {

TMenuStatus::TMenuStatus(int intervalMs, QObject* parent) : QObject(parent) {
    connect(&m_timer, &QTimer::timeout, this, &TMenuStatus::Round);
    m_timer.start(intervalMs);
}

void TMenuStatus::ClearConnection(TConnectionThread* ending) {
    if (m_connection == ending) {
        m_connection = nullptr;
    }
}

void TMenuStatus::Round() {
    // A failing round is recorded and skipped; the next one comes with the
    // next interval.
    try {
        ComputeStatus();
        ShowStatus();
        m_roundError.clear();
    } catch (const std::exception& error) {
        m_roundError = QString::fromStdString(error.what());
    }
}

void TMenuStatus::ComputeStatus() {
    TConnectionThread* connection = m_connection;
    if (connection == nullptr) {
        m_text1 = QStringLiteral("READY");
        m_text2.clear();
        return;
    }
    switch (connection->ConnectionKind()) {
    case TConnectionThread::Kind::Movie:
        m_text1 = QString::number(connection->Speed()) + QStringLiteral(" BPS");
        break;
    case TConnectionThread::Kind::Telnet:
        m_text1 = QStringLiteral("TELNET");
        break;
    case TConnectionThread::Kind::Serial:
        m_text1 = QStringLiteral("SERIAL");
        break;
    case TConnectionThread::Kind::Raw:
        m_text1 = QStringLiteral("RAW TCP");
        break;
    }
    const QString settings = connection->LineSettingsText();
    if (!settings.isEmpty()) {
        m_text1 += QLatin1Char(' ') + settings;
    }
    m_text2 = connection->StatusText();
}

void TMenuStatus::ShowStatus() {
    if (m_shownOnce && m_text1 == m_shown1 && m_text2 == m_shown2) {
        return;
    }
    m_shownOnce = true;
    m_shown1 = m_text1;
    m_shown2 = m_text2;
    Q_EMIT Shown(m_text1, m_text2);
}

} // namespace telvora
