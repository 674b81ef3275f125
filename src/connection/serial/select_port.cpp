#include "connection/serial/select_port.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "connection/serial/port_list.h"
#include "connection/serial/serial_settings_dialog.h"

#include <algorithm>

namespace {

constexpr int kClientWidth = 241;
constexpr int kClientHeight = 50;
constexpr int kListHeight = 21;
constexpr int kCancelWidth = 72;
// Room the window manager takes around a tool window's title.
constexpr int kTitleMargin = 96;

} // namespace

TSelectPort::TSelectPort(QWidget* owner) : TSelectPort(owner, [] { return ListSerialPorts(); }) {}

TSelectPort::TSelectPort(QWidget* owner, const TPortSource& source)
    : QDialog(owner, Qt::Tool | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle("Select Serial Port To Use");
    // Wide enough for the whole title, which the window manager would cut.
    const int width =
        std::max(kClientWidth, fontMetrics().horizontalAdvance(windowTitle()) + kTitleMargin);
    setFixedSize(width, kClientHeight);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(0, 0, width, kListHeight);

    const int buttonTop = kListHeight + 2;
    const int buttonHeight = kClientHeight - buttonTop;
    const int settingsWidth = (width - kCancelWidth) / 2;
    const int okWidth = width - kCancelWidth - settingsWidth;
    SettingsButton = new QPushButton("Serial Settings...", this);
    SettingsButton->setObjectName("SettingsButton");
    SettingsButton->setGeometry(0, buttonTop, settingsWidth, buttonHeight);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(settingsWidth, buttonTop, okWidth, buttonHeight);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(settingsWidth + okWidth, buttonTop, kCancelWidth, buttonHeight);

    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(SettingsButton, &QPushButton::clicked, this, &TSelectPort::SettingsButtonClick);

    FormCreate(source);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TSelectPort::FormCreate(const TPortSource& source) {
    for (const std::string& port : source()) {
        ComboBox1->addItem(QString::fromStdString(port));
    }
    m_portCount = ComboBox1->count();
    ComboBox1->setCurrentIndex(m_portCount > 0 ? 0 : -1);
    ComboBox1->lineEdit()->setPlaceholderText(m_portCount > 0
                                                  ? QStringLiteral("A port, or type its path")
                                                  : QStringLiteral("No ports found: type a path"));
}

QString TSelectPort::SelectedPort() const {
    return ComboBox1->currentText().trimmed();
}

void TSelectPort::SetSelectedPort(const QString& port) {
    const int listed = ComboBox1->findText(port);
    if (listed >= 0) {
        ComboBox1->setCurrentIndex(listed);
    } else {
        ComboBox1->setEditText(port);
    }
}

void TSelectPort::SettingsButtonClick() {
    TSerialSettingsDialog dialog(this, m_settings);
    if (dialog.exec() == QDialog::Accepted) {
        m_settings = dialog.Settings();
    }
}
