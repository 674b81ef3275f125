#pragma once

#include "connection/connection_thread.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace telvora {

// The status line monitor: once per interval it looks at the connection it
// was last told about and makes the two status texts from it. A timer on the
// user-interface thread drives the rounds, where the connection's fields
// live; whoever shows the texts takes them from Shown.
class TMenuStatus : public QObject {
    Q_OBJECT

public:
    // The rounds begin at once, the first one interval from now.
    explicit TMenuStatus(int intervalMs, QObject* parent = nullptr);

    // Only stores the reference; the texts change at the next round.
    void SetConnection(TConnectionThread* connection) { m_connection = connection; }
    // Forgets `ending` unless another connection has been registered since.
    void ClearConnection(TConnectionThread* ending);
    TConnectionThread* Connection() const { return m_connection; }

    // No more rounds; for closing. Idempotent.
    void Stop() { m_timer.stop(); }
    bool Running() const { return m_timer.isActive(); }

    // A round that threw: what it said, for the user or a test; empty when
    // the last round succeeded. The next round comes with the next interval.
    const QString& RoundError() const { return m_roundError; }

    // A round's two steps: the texts from the connection, then Shown when
    // they differ from the last ones shown (the first round always shows).
    void ComputeStatus();
    void ShowStatus();
    const QString& Text1() const { return m_text1; }
    const QString& Text2() const { return m_text2; }

Q_SIGNALS:
    void Shown(const QString& text1, const QString& text2);

private:
    void Round();

    QTimer m_timer;
    QPointer<TConnectionThread> m_connection;
    QString m_text1;
    QString m_text2;
    bool m_shownOnce = false;
    QString m_shown1;
    QString m_shown2;
    QString m_roundError;
};

} // namespace telvora
