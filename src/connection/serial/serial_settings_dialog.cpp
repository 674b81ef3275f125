#include "connection/serial/serial_settings_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>

using telvora::TSerialFlow;
using telvora::TSerialSettings;

namespace {

const QStringList kParities = {QStringLiteral("None"), QStringLiteral("Even"),
                               QStringLiteral("Odd")};
const QStringList kFlows = {QStringLiteral("None"), QStringLiteral("RTS/CTS"),
                            QStringLiteral("XON/XOFF")};

int ParityIndex(TParity parity) {
    return parity == TParity::paEven ? 1 : parity == TParity::paOdd ? 2 : 0;
}

} // namespace

TSerialSettingsDialog::TSerialSettingsDialog(QWidget* owner, const TSerialSettings& settings)
    : QDialog(owner) {
    setWindowTitle(QStringLiteral("Serial Settings"));
    setLayout(new QFormLayout);
    QStringList speeds;
    for (const int speed : TSerialSettings::kSpeeds) {
        speeds << QString::number(speed);
    }
    SpeedBox = AddChoice("SpeedBox", QStringLiteral("&Speed (bits per second):"), speeds);
    DataBitsBox = AddChoice("DataBitsBox", QStringLiteral("&Data bits:"),
                            {QStringLiteral("7"), QStringLiteral("8")});
    ParityBox = AddChoice("ParityBox", QStringLiteral("&Parity:"), kParities);
    StopBitsBox = AddChoice("StopBitsBox", QStringLiteral("S&top bits:"),
                            {QStringLiteral("1"), QStringLiteral("2")});
    FlowBox = AddChoice("FlowBox", QStringLiteral("&Flow control:"), kFlows);

    SpeedBox->setCurrentText(QString::number(settings.Speed));
    DataBitsBox->setCurrentText(QString::number(settings.DataBits));
    ParityBox->setCurrentIndex(ParityIndex(settings.Parity));
    StopBitsBox->setCurrentText(QString::number(settings.StopBits));
    FlowBox->setCurrentIndex(static_cast<int>(settings.Flow));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    OkButton = buttons->button(QDialogButtonBox::Ok);
    CancelButton = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    static_cast<QFormLayout*>(layout())->addRow(buttons);
}

QComboBox* TSerialSettingsDialog::AddChoice(const char* name, const QString& label,
                                            const QStringList& items) {
    auto* box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->addItems(items);
    static_cast<QFormLayout*>(layout())->addRow(label, box);
    return box;
}

TSerialSettings TSerialSettingsDialog::Settings() const {
    TSerialSettings settings;
    settings.Speed = SpeedBox->currentText().toInt();
    settings.DataBits = DataBitsBox->currentText().toInt();
    settings.Parity = ParityBox->currentIndex() == 1   ? TParity::paEven
                      : ParityBox->currentIndex() == 2 ? TParity::paOdd
                                                       : TParity::paNone;
    settings.StopBits = StopBitsBox->currentText().toInt();
    settings.Flow = static_cast<TSerialFlow>(FlowBox->currentIndex());
    return settings;
}
