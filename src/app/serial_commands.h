#pragma once

#include "connection/serial/select_port.h"

#include <QObject>

class QWidget;

namespace telvora {

class TSession;
struct TSerialSettings;

// The Serial Port menu's dialogs: the port chooser and the line settings,
// which are kept for the next run and handed to the session.
class TSerialCommands : public QObject {
    Q_OBJECT

public:
    // The window is the parent of the dialogs. The session takes the
    // settings the last run kept.
    TSerialCommands(QWidget& window, TSession& session);

    // Where the port chooser finds the serial ports (tests give their own).
    void SetPortSource(TSelectPort::TPortSource source) { m_portSource = std::move(source); }

    void AttachClick();
    void SettingsClick();

private:
    void ChooseSettings(const TSerialSettings& settings);

    QWidget& m_window;
    TSession& m_session;
    TSelectPort::TPortSource m_portSource;
};

} // namespace telvora
