#pragma once

#include "common/hand_over.h"
#include "connection/connection_thread.h"

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace telvora {

// The status line monitor: once per interval it looks at the connection it
// was last told about and writes the two status panels. Its thread only
// sleeps, asks the user-interface thread to do the round and waits for it;
// it touches no window and no connection itself.
class TMenuStatus : public QThread {
    Q_OBJECT

public:
    TMenuStatus(QLabel* panel1, QLabel* panel2, int intervalMs, QObject* parent = nullptr);
    ~TMenuStatus() override;

    // User-interface thread only. Only stores the reference; the panels
    // change at the next refresh.
    void SetConnection(TConnectionThread* connection) { m_connection = connection; }
    // Forgets `ending` unless another connection has been registered since.
    void ClearConnection(TConnectionThread* ending);
    TConnectionThread* Connection() const { return m_connection; }

    // Sets the stop flag and waits for the thread; before the panels go.
    void Stop();

    // A round that threw: what it said, for the user or a test; empty when
    // the last round succeeded. The next round comes with the next interval.
    const QString& RoundError() const { return m_roundError; }

    void ComputeStatus();
    void ShowStatus();
    const QString& Text1() const { return m_text1; }
    const QString& Text2() const { return m_text2; }

protected:
    void run() override;

private:
    void Round();

    QPointer<QLabel> m_panel1;
    QPointer<QLabel> m_panel2;
    const int m_intervalMs;
    QPointer<TConnectionThread> m_connection;
    QString m_text1;
    QString m_text2;

    QString m_roundError;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    THandOver m_ui;
};

} // namespace telvora
