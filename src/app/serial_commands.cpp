#include "app/serial_commands.h"

#include "app/serial_memory.h"
#include "app/session.h"
#include "common/qt_text.h"
#include "connection/serial/serial_settings_dialog.h"

#include <QDialog>
#include <QWidget>

#include <memory>

namespace telvora {

TSerialCommands::TSerialCommands(QWidget& window, TSession& session)
    : QObject(&window), m_window(window), m_session(session) {
    m_session.SetSerialSettings(RememberedSerialSettings());
}

void TSerialCommands::AttachClick() {
    auto select = m_portSource ? std::make_unique<TSelectPort>(&m_window, m_portSource)
                               : std::make_unique<TSelectPort>(&m_window);
    const QString remembered = FileNameFromSystem(RememberedSerialPort());
    if (!remembered.isEmpty()) {
        select->SetSelectedPort(remembered);
    }
    select->SetSerialSettings(m_session.SerialSettings());
    const int result = select->exec();
    const QString port = select->SelectedPort();
    const TSerialSettings settings = select->SerialSettings();
    select.reset();
    if (result != QDialog::Accepted) {
        return;
    }
    ChooseSettings(settings);
    if (!port.isEmpty()) {
        RememberSerialPort(FileNameToSystem(port));
        m_session.AttachSerial(FileNameToSystem(port));
    }
}

void TSerialCommands::SettingsClick() {
    TSerialSettingsDialog dialog(&m_window, m_session.SerialSettings());
    if (dialog.exec() == QDialog::Accepted) {
        ChooseSettings(dialog.Settings());
    }
}

void TSerialCommands::ChooseSettings(const TSerialSettings& settings) {
    m_session.SetSerialSettings(settings);
    RememberSerialSettings(settings);
}

} // namespace telvora
