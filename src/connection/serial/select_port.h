#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

#include "connection/serial/serial_settings.h"

class QComboBox;
class QPushButton;

// The modal dialog in which the user picks the serial port to attach to: the
// ports present (read once, at creation; the first preselected) or any path
// typed (a pseudo-terminal, an emulator's port). "Serial Settings..." beside
// it sets the line's speed, format and flow control.
class TSelectPort : public QDialog {
    Q_OBJECT

public:
    using TPortSource = std::function<std::vector<std::string>()>;

    // Lists the serial devices present on this machine.
    explicit TSelectPort(QWidget* owner = nullptr);
    // Lists what source returns (tests give their own).
    TSelectPort(QWidget* owner, const TPortSource& source);

    int PortCount() const { return m_portCount; }
    // Device path of the selected or typed entry, without blanks around it.
    QString SelectedPort() const;
    // Shows this port (listed or not) as the choice.
    void SetSelectedPort(const QString& port);

    // The settings "Serial Settings..." starts from and leaves.
    void SetSerialSettings(const telvora::TSerialSettings& settings) { m_settings = settings; }
    const telvora::TSerialSettings& SerialSettings() const { return m_settings; }

    QComboBox* ComboBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* SettingsButton = nullptr;

private:
    void FormCreate(const TPortSource& source);
    void SettingsButtonClick();

    int m_portCount = 0;
    telvora::TSerialSettings m_settings;
};
