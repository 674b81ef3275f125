#include "app/menu_status.h"

#include <chrono>
#include <exception>

namespace telvora {

TMenuStatus::TMenuStatus(QLabel* panel1, QLabel* panel2, int intervalMs, QObject* parent)
    : QThread(parent), m_panel1(panel1), m_panel2(panel2), m_intervalMs(intervalMs) {
    start(QThread::LowPriority);
}

TMenuStatus::~TMenuStatus() {
    Stop();
}

void TMenuStatus::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    // Also ends a wait for a round, so Stop() on the user-interface thread
    // never waits on a round it would have to run itself.
    m_ui.ShutDown();
    wait();
}

void TMenuStatus::ClearConnection(TConnectionThread* ending) {
    if (m_connection == ending) {
        m_connection = nullptr;
    }
}

void TMenuStatus::run() {
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::milliseconds(m_intervalMs),
                            [this] { return m_stop; });
            if (m_stop) {
                return;
            }
        }
        // The round runs on the user-interface thread, where the connection's
        // fields live, and the monitor waits for it.
        if (!m_ui.RunAndWait([this] { Round(); })) {
            return;
        }
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
    }
    m_text2 = connection->StatusText();
}

void TMenuStatus::ShowStatus() {
    if (m_panel1) {
        m_panel1->setText(m_text1);
    }
    if (m_panel2) {
        m_panel2->setText(m_text2);
    }
}

} // namespace telvora
