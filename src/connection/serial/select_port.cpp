#include "connection/serial/select_port.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "connection/serial/port_list.h"

namespace {

constexpr int kClientWidth = 241;
constexpr int kClientHeight = 50;
constexpr int kListHeight = 21;
constexpr int kOkWidth = 169;
constexpr int kCancelWidth = 72;

} // namespace

TSelectPort::TSelectPort(QWidget* owner) : TSelectPort(owner, [] { return ListSerialPorts(); }) {}

TSelectPort::TSelectPort(QWidget* owner, const TPortSource& source)
    : QDialog(owner, Qt::Tool | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setWindowTitle("Select Serial Port To Use");
    setFixedSize(kClientWidth, kClientHeight);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(false);
    ComboBox1->setGeometry(0, 0, kClientWidth, kListHeight);

    const int buttonTop = kListHeight + 2;
    const int buttonHeight = kClientHeight - buttonTop;
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(0, buttonTop, kOkWidth, buttonHeight);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(kOkWidth, buttonTop, kCancelWidth, buttonHeight);

    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { ComboBox1Change(); });

    FormCreate(source);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TSelectPort::FormCreate(const TPortSource& source) {
    const QSignalBlocker blocker(ComboBox1);
    for (const std::string& port : source()) {
        ComboBox1->addItem(QString::fromStdString(port));
    }
    m_portCount = ComboBox1->count();
    ComboBox1->setCurrentIndex(m_portCount > 0 ? 0 : -1);
    ComboBox1Change();
}

void TSelectPort::ComboBox1Change() {
    if (ComboBox1->count() > 0) {
        m_selectedPort = ComboBox1->currentText();
    }
}
