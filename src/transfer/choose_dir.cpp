#include "transfer/choose_dir.h"

#include "common/window_placement.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStorageInfo>

namespace telvora {

namespace {

const QString kUp = QStringLiteral("..");

} // namespace

TChooseDir::TChooseDir(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ChooseDir"));
    setWindowTitle(QStringLiteral("Choose Directory"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kClientWidth, kClientHeight);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    setFont(font);

    auto* frame = new QGroupBox(QStringLiteral(" Selected "), this);
    frame->setObjectName(QStringLiteral("GroupBox1"));
    frame->setGeometry(0, -2, 279, 30);
    Label1 = new QLabel(frame);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(5, 13, 261, 13);

    DirectoryListBox1 = new QListWidget(this);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setGeometry(0, 33, 279, 212);
    connect(DirectoryListBox1, &QListWidget::itemActivated, this, &TChooseDir::OpenEntry);

    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(0, 247, 279, 20);
    connect(DriveComboBox1, &QComboBox::activated, this,
            [this](int index) { SetFolder(DriveComboBox1->itemData(index).toString()); });

    BitBtn1 = new QPushButton(QStringLiteral("&Cancel"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(-1, 269, 77, 24);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    Ok = new QPushButton(QStringLiteral("&OK"), this);
    Ok->setObjectName(QStringLiteral("Ok"));
    Ok->setGeometry(79, 269, 201, 24);
    connect(Ok, &QPushButton::clicked, this, &QDialog::accept);

    FillDrives();
    SetFolder(QDir::currentPath());
    CentreOnScreen(*this);
}

void TChooseDir::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        Reread();
    }
}

void TChooseDir::Reread() {
    FillDrives();
    // A folder removed meanwhile leaves its nearest ancestor.
    QString folder = m_folder;
    while (!QDir(folder).exists() && !QDir(folder).isRoot()) {
        folder = QFileInfo(folder).path();
    }
    SetFolder(QDir(folder).exists() ? folder : QDir::rootPath());
}

void TChooseDir::FillDrives() {
    DriveComboBox1->clear();
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady()) {
            DriveComboBox1->addItem(volume.rootPath(), volume.rootPath());
        }
    }
}

void TChooseDir::SetFolder(const QString& folder) {
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    if (!QDir(clean).exists()) {
        return;
    }
    m_folder = clean;
    FillFolders();
    ShowSelected();
}

void TChooseDir::FillFolders() {
    DirectoryListBox1->clear();
    const QDir here(m_folder);
    if (!here.isRoot()) {
        DirectoryListBox1->addItem(kUp);
    }
    const QStringList folders =
        here.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    DirectoryListBox1->addItems(folders);
}

void TChooseDir::OpenEntry(QListWidgetItem* item) {
    if (item == nullptr) {
        return;
    }
    const QString name = item->text();
    SetFolder(name == kUp ? QDir(m_folder).filePath(kUp) : QDir(m_folder).filePath(name));
}

void TChooseDir::ShowSelected() {
    // Shortened in the middle to fit, so both ends of a long path stay readable.
    Label1->setText(
        QFontMetrics(Label1->font()).elidedText(m_folder, Qt::ElideMiddle, Label1->width()));
    Label1->setToolTip(m_folder);
}

void TChooseDir::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ShowSelected();
}

} // namespace telvora
