#include "directory/dialer.h"

#include "common/message_box.h"
#include "common/qt_text.h"
#include "common/window_placement.h"
#include "directory/button_pictures.h"
#include "directory/host_table_model.h"
#include "directory/qt_settings_store.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace telvora {

namespace {

const QString kCaption = QStringLiteral("Dialer");
const QString kNeedHostText = QStringLiteral("Please enter the hostname and description first.");
const QString kPortSuffixText =
    QStringLiteral("A description may not contain \"-PORT\" (in any letter case): such an "
                   "entry could not be listed. Please choose another description.");
const QString kSaveFailedText =
    QStringLiteral("The host directory could not be saved. Nothing was changed.");

constexpr int kEditTop = 189;
constexpr int kEditHeight = 21;
constexpr int kButtonTop = 212;
constexpr int kButtonHeight = 25;
constexpr int kWindowFontPixels = 11;
constexpr int kGridFontPixels = 11;
constexpr int kHostNameWidth = 200;
constexpr int kPortWidth = 52;
// The type column and its chooser take their room from the description, the
// widest column, so that the window did not grow for them.
constexpr int kDescriptionWidth = 204;
constexpr int kTypeWidth = 60;
constexpr int kDescriptionEditWidth = 205;
constexpr int kTypeChooserLeft = 460;
constexpr int kTypeChooserWidth = 61;
// No column can spare room for the width chooser (the smallest that shows "80"
// beside its arrow), so the window and the list grow by it, less the pixel
// where neighbouring boxes overlap; the buttons stay put. The width column
// takes what the list then has beside the other columns, so that all of them
// fit without a horizontal scroll bar.
constexpr int kColumnsChooserLeft = kTypeChooserLeft + kTypeChooserWidth - 1;
constexpr int kColumnsChooserWidth = 44;
// The connect timeout box beside it grows the window the same way.
constexpr int kTimeoutBoxLeft = kColumnsChooserLeft + kColumnsChooserWidth - 1;
constexpr int kTimeoutBoxWidth = 48;
constexpr int kGroupBoxWidth = 527 + kColumnsChooserWidth - 1 + kTimeoutBoxWidth - 1;
constexpr int kColumnsWidth = 42;
constexpr int kTimeoutWidth = 47;
constexpr int kGroupBoxHeight = 188;
constexpr int kGridMargin = 2;

// Only the host name column cuts its text with an ellipsis; the view's own
// mode (none) applies to the others.
class TElidingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideRight;
    }
};

} // namespace

TDialer::TDialer(QWidget* parent)
    : QDialog(parent), m_ownStore(std::make_unique<TQtSettingsStore>(QStringLiteral("Marrowby"),
                                                                     QStringLiteral("Telvora"))),
      m_directory(*m_ownStore) {
    BuildWindow();
}

TDialer::TDialer(TSettingsStore& store, QWidget* parent) : QDialog(parent), m_directory(store) {
    BuildWindow();
}

TDialer::~TDialer() = default;

void TDialer::BuildWindow() {
    setObjectName(QStringLiteral("Dialer"));
    setWindowTitle(kCaption);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setPixelSize(kWindowFontPixels);
    setFont(windowFont);
    setFixedSize(kClientWidth, kClientHeight);

    m_groupBox1 = new QGroupBox(this);
    m_groupBox1->setObjectName(QStringLiteral("GroupBox1"));
    m_groupBox1->setGeometry(0, 0, kGroupBoxWidth, kGroupBoxHeight);
    BuildGrid();

    m_bitBtn1 =
        AddButton("BitBtn1", QStringLiteral("Save As New"), 0, 105, TButtonPicture::SaveAsNew);
    m_edit1 = AddEdit("Edit1", 1, 200);
    m_edit3 = AddEdit("Edit3", 201, 56);
    m_edit2 = AddEdit("Edit2", 256, kDescriptionEditWidth);
    BuildTypeChooser();
    BuildColumnsChooser();
    BuildTimeoutBox();
    m_bitBtn2 = AddButton("BitBtn2", QStringLiteral("Update"), 108, 105, TButtonPicture::Update);
    m_bitBtn3 = AddButton("BitBtn3", QStringLiteral("Connect"), 368, 75, TButtonPicture::Connect);
    m_bitBtn4 = AddButton("BitBtn4", QStringLiteral("&Close"), 446, 75, TButtonPicture::Close);
    m_bitBtn5 = AddButton("BitBtn5", QStringLiteral("Delete"), 215, 75, TButtonPicture::Delete);
    m_modemButton = new QPushButton(QStringLiteral("Modem..."), this);
    m_modemButton->setObjectName(QStringLiteral("ModemButton"));
    m_modemButton->setGeometry(292, kButtonTop, 74, kButtonHeight);
    m_modemButton->setAutoDefault(false);
    m_modemButton->setEnabled(false);
    connect(m_modemButton, &QPushButton::clicked, this, &TDialer::ModemButtonClick);
    m_edit3->setText(FromUtf8(std::string(THostDirectory::kDefaultPort)));

    QWidget* order[] = {m_hyperGrid1, m_bitBtn1,   m_edit1,      m_edit3,   m_edit2,
                        m_comboBox1,  m_comboBox2, m_spinBox1,   m_bitBtn2, m_bitBtn3,
                        m_bitBtn4,    m_bitBtn5,   m_modemButton};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(m_bitBtn1, &QPushButton::clicked, this, &TDialer::BitBtn1Click);
    connect(m_bitBtn2, &QPushButton::clicked, this, &TDialer::BitBtn2Click);
    connect(m_bitBtn5, &QPushButton::clicked, this, &TDialer::BitBtn5Click);
    connect(m_bitBtn3, &QPushButton::clicked, this, &TDialer::BitBtn3Click);
    connect(m_bitBtn4, &QPushButton::clicked, this, &TDialer::BitBtn4Click);
}

void TDialer::BuildGrid() {
    m_model = new THostTableModel(m_directory, this);
    m_hyperGrid1 = new QTableView(m_groupBox1);
    m_hyperGrid1->setObjectName(QStringLiteral("HyperGrid1"));
    auto* layout = new QVBoxLayout(m_groupBox1);
    layout->setContentsMargins(kGridMargin, kGridMargin, kGridMargin, kGridMargin);
    layout->addWidget(m_hyperGrid1);

    QFont gridFont(QStringLiteral("Arial"));
    gridFont.setPixelSize(kGridFontPixels);
    m_hyperGrid1->setFont(gridFont);
    m_hyperGrid1->setModel(m_model);
    m_hyperGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_hyperGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_hyperGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_hyperGrid1->setShowGrid(true);
    m_hyperGrid1->setWordWrap(false);
    m_hyperGrid1->setTextElideMode(Qt::ElideNone);
    m_hyperGrid1->setItemDelegateForColumn(0, new TElidingDelegate(m_hyperGrid1));
    m_hyperGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_hyperGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    QHeaderView* rows = m_hyperGrid1->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(kRowHeight);
    rows->setDefaultSectionSize(kRowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView* header = m_hyperGrid1->horizontalHeader();
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setStretchLastSection(false);
    header->resizeSection(0, kHostNameWidth);
    header->resizeSection(1, kPortWidth);
    header->resizeSection(2, kDescriptionWidth);
    header->resizeSection(THostTableModel::kTypeColumn, kTypeWidth);
    header->resizeSection(THostTableModel::kColumnsColumn, kColumnsWidth);
    header->resizeSection(THostTableModel::kTimeoutColumn, kTimeoutWidth);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The header is the grid's row 0, as high as every other row.
    header->setFixedHeight(kRowHeight);
    header->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: "
                                         "palette(highlight); color: palette(highlighted-text); "
                                         "border: 1px solid palette(mid); padding-left: 2px; }"));

    connect(m_hyperGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!m_showingList && current.isValid()) {
                    HyperGrid1EnterRow(current.row() + 1);
                }
            });
    connect(m_hyperGrid1, &QTableView::doubleClicked, this, &TDialer::HyperGrid1DblClick);
}

QPushButton* TDialer::AddButton(const char* name, const QString& caption, int left, int width,
                                TButtonPicture picture) {
    auto* button = new QPushButton(ButtonPicture(picture), caption, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setIconSize(QSize(kButtonPictureSize, kButtonPictureSize));
    button->setGeometry(left, kButtonTop, width, kButtonHeight);
    // Return in an edit box must not press a button behind the user's back.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// Beside the edit boxes: how the entry being edited is reached.
void TDialer::BuildTypeChooser() {
    m_comboBox1 = new QComboBox(this);
    m_comboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (const THostProtocol protocol :
         {THostProtocol::Telnet, THostProtocol::Raw, THostProtocol::Serial, THostProtocol::Modem}) {
        m_comboBox1->addItem(FromUtf8(std::string(THostDirectory::ProtocolName(protocol))),
                             QVariant::fromValue(static_cast<int>(protocol)));
    }
    m_comboBox1->setToolTip(
        QStringLiteral("Telnet: a Telnet server. Raw: a plain TCP bridge that passes the bytes "
                       "through unchanged. Serial: a serial line, the host name being its device "
                       "and the port its settings (19200 8N1 none). Modem: a serial line whose "
                       "modem dials the number set with \"Modem...\"."));
    connect(m_comboBox1, &QComboBox::currentIndexChanged, this, [this] {
        if (m_modemButton == nullptr) {
            return;
        }
        m_modemButton->setEnabled(static_cast<THostProtocol>(m_comboBox1->currentData().toInt()) ==
                                  THostProtocol::Modem);
    });
    m_comboBox1->setGeometry(kTypeChooserLeft, kEditTop, kTypeChooserWidth, kEditHeight);
}

// Beside the type chooser: how wide a screen the entry's board draws for.
void TDialer::BuildColumnsChooser() {
    m_comboBox2 = new QComboBox(this);
    m_comboBox2->setObjectName(QStringLiteral("ComboBox2"));
    for (const int columns : {THostDirectory::kNarrowColumns, THostDirectory::kWideColumns}) {
        m_comboBox2->addItem(FromUtf8(std::string(THostDirectory::ColumnsName(columns))),
                             QVariant::fromValue(columns));
    }
    m_comboBox2->setToolTip(QStringLiteral("Screen width: 40 columns, as on the Atari, or 80 "
                                           "columns, as with an XEP80."));
    m_comboBox2->setGeometry(kColumnsChooserLeft, kEditTop, kColumnsChooserWidth, kEditHeight);
}

// Beside the width chooser: how long a connect to the entry may take.
void TDialer::BuildTimeoutBox() {
    m_spinBox1 = new QSpinBox(this);
    m_spinBox1->setObjectName(QStringLiteral("SpinBox1"));
    m_spinBox1->setRange(1, THostDirectory::kMaxConnectTimeout);
    m_spinBox1->setValue(THostDirectory::kDefaultConnectTimeout);
    m_spinBox1->setToolTip(QStringLiteral("Connect timeout: the seconds a connect may take "
                                          "before it is given up."));
    m_spinBox1->setGeometry(kTimeoutBoxLeft, kEditTop, kTimeoutBoxWidth, kEditHeight);
}

QLineEdit* TDialer::AddEdit(const char* name, int left, int width) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(left, kEditTop, width, kEditHeight);
    return edit;
}

QString TDialer::ChosenHost() const {
    return FromUtf8(m_directory.ChosenHost());
}

QString TDialer::ChosenPort() const {
    return FromUtf8(m_directory.ChosenPort());
}

THostProtocol TDialer::ChosenProtocol() const {
    return m_directory.ChosenProtocol();
}

int TDialer::ChosenColumns() const {
    return m_directory.ChosenColumns();
}

void TDialer::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        telvora::CentreOnScreen(*this);
        FormShow();
    }
}

void TDialer::FormShow() {
    LoadHosts();
}

void TDialer::LoadHosts() {
    m_directory.LoadHosts();
    ShowList();
    ShowEdits();
}

void TDialer::HyperGrid1EnterRow(int row) {
    m_directory.EnterRow(row);
    ShowEdits();
}

void TDialer::HyperGrid1DblClick() {
    BitBtn3Click();
}

void TDialer::BitBtn1Click() {
    TakeEdits();
    Report(m_directory.SaveAsNew());
}

void TDialer::BitBtn2Click() {
    TakeEdits();
    Report(m_directory.Update());
}

void TDialer::BitBtn5Click() {
    TakeEdits();
    Report(m_directory.Delete());
}

void TDialer::BitBtn3Click() {
    m_directory.Connect();
    done(QDialog::Accepted);
}

void TDialer::BitBtn4Click() {
    done(kModalAbort);
}

void TDialer::ModemButtonClick() {
    TModemSettings& modem = m_directory.Edits().Modem;
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Modem"));
    auto* form = new QFormLayout(&dialog);
    auto* number = new QLineEdit(FromUtf8(modem.Number), &dialog);
    number->setObjectName(QStringLiteral("NumberEdit"));
    number->setToolTip(QStringLiteral("A phone number, or HOST:PORT for a WiFi modem"));
    auto* init = new QLineEdit(FromUtf8(modem.InitString), &dialog);
    init->setObjectName(QStringLiteral("InitEdit"));
    auto* dial = new QLineEdit(FromUtf8(modem.DialCommand), &dialog);
    dial->setObjectName(QStringLiteral("DialEdit"));
    auto* redials = new QSpinBox(&dialog);
    redials->setObjectName(QStringLiteral("RedialBox"));
    redials->setRange(0, TModemSettings::kMaxRedials);
    redials->setValue(modem.Redials);
    form->addRow(QStringLiteral("&Number:"), number);
    form->addRow(QStringLiteral("&Init string:"), init);
    form->addRow(QStringLiteral("&Dial command:"), dial);
    form->addRow(QStringLiteral("&Redial tries:"), redials);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() == QDialog::Accepted) {
        modem.Number = ToUtf8(number->text().trimmed());
        modem.InitString = ToUtf8(init->text().trimmed());
        modem.DialCommand = ToUtf8(dial->text().trimmed());
        modem.Redials = redials->value();
    }
}

void TDialer::TakeEdits() {
    THostRow& edits = m_directory.Edits();
    edits.HostName = ToUtf8(m_edit1->text());
    edits.Port = ToUtf8(m_edit3->text());
    edits.Description = ToUtf8(m_edit2->text());
    edits.Protocol = static_cast<THostProtocol>(m_comboBox1->currentData().toInt());
    edits.Columns = m_comboBox2->currentData().toInt();
    edits.ConnectTimeout = m_spinBox1->value();
}

void TDialer::ShowEdits() {
    const THostRow& edits = m_directory.Edits();
    m_edit1->setText(FromUtf8(edits.HostName));
    m_edit3->setText(FromUtf8(edits.Port));
    m_edit2->setText(FromUtf8(edits.Description));
    m_comboBox1->setCurrentIndex(m_comboBox1->findData(static_cast<int>(edits.Protocol)));
    m_comboBox2->setCurrentIndex(
        m_comboBox2->findData(THostDirectory::ValidColumns(edits.Columns)));
    m_spinBox1->setValue(THostDirectory::ValidConnectTimeout(edits.ConnectTimeout));
    // Show the beginning of a long host name, not its end.
    for (QLineEdit* edit : {m_edit1, m_edit3, m_edit2}) {
        edit->setCursorPosition(0);
    }
}

// Rebuilds the grid from the directory and selects its current row without
// entering it again.
void TDialer::ShowList() {
    m_showingList = true;
    m_model->Reload();
    const int viewRow = m_directory.CurrentRow() - 1;
    if (viewRow >= 0 && viewRow < m_model->rowCount()) {
        m_hyperGrid1->selectRow(viewRow);
        m_hyperGrid1->setCurrentIndex(m_model->index(viewRow, 0));
    }
    m_showingList = false;
}

void TDialer::Report(THostEditResult result) {
    switch (result) {
    case THostEditResult::Saved:
        ShowList();
        ShowEdits();
        break;
    case THostEditResult::NeedHostAndDescription:
        ShowMessage(kNeedHostText);
        break;
    case THostEditResult::DescriptionHasPortSuffix:
        ShowMessage(kPortSuffixText);
        break;
    case THostEditResult::StoreFailed:
        // The port box may have become "23"; the list stays as it was.
        ShowEdits();
        ShowMessage(kSaveFailedText);
        break;
    }
}

void TDialer::ShowMessage(const QString& text) {
    telvora::ShowMessage(this, text, MessageKind::Plain);
}

} // namespace telvora
