#pragma once

#include "connection/serial/serial_settings.h"

#include <QDialog>

class QComboBox;
class QPushButton;

// "Serial Settings": the speed, data bits, parity, stop bits and flow control
// of the serial line, shown as the settings given and read back after OK.
class TSerialSettingsDialog : public QDialog {
    Q_OBJECT

public:
    TSerialSettingsDialog(QWidget* owner, const telvora::TSerialSettings& settings);

    telvora::TSerialSettings Settings() const;

    QComboBox* SpeedBox = nullptr;
    QComboBox* DataBitsBox = nullptr;
    QComboBox* ParityBox = nullptr;
    QComboBox* StopBitsBox = nullptr;
    QComboBox* FlowBox = nullptr;
    QPushButton* OkButton = nullptr;
    QPushButton* CancelButton = nullptr;

private:
    QComboBox* AddChoice(const char* name, const QString& label, const QStringList& items);
};
