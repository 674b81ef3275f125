#include "directory/dialer.h"

#include "common/message_box.h"
#include "common/qt_text.h"
#include "common/text_helpers.h"
#include "common/window_placement.h"
#include "directory/button_pictures.h"
#include "directory/directory_files.h"
#include "directory/host_table_model.h"
#include "directory/login_steps.h"
#include "directory/qt_settings_store.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <optional>
#include <string>

namespace telvora {

namespace {

const QString kCaption = QStringLiteral("Dialer");
const QString kNeedHostText = QStringLiteral("Please enter the hostname and description first.");
const QString kPortSuffixText =
    QStringLiteral("A description may not contain \"-PORT\" (in any letter case): such an "
                   "entry could not be listed. Please choose another description.");
const QString kSaveFailedText =
    QStringLiteral("The host directory could not be saved. Nothing was changed.");

// Each row of boxes has its labels above it.
constexpr int kLabelHeight = 14;
constexpr int kEditTop = 189 + kLabelHeight;
constexpr int kEditHeight = 21;
constexpr int kLoginLabelTop = kEditTop + kEditHeight + 2;
constexpr int kLoginTop = kLoginLabelTop + kLabelHeight;
constexpr int kButtonTop = kLoginTop + kEditHeight + 2;
constexpr int kButtonHeight = 25;
// The login row: the user's boxes give up room for a Modem entry's button
// and for the whole of the Escape box's text beside them.
constexpr int kUserWidth = 110;
constexpr int kPasswordLeft = 1 + kUserWidth + 1;
constexpr int kPasswordWidth = 90;
constexpr int kStepsLeft = kPasswordLeft + kPasswordWidth + 1;
constexpr int kStepsEditWidth = 122;
constexpr int kModemButtonLeft = kStepsLeft + kStepsEditWidth + 1;
constexpr int kModemButtonWidth = 74;
constexpr int kEscapeBoxLeft = kModemButtonLeft + kModemButtonWidth + 2;
constexpr int kWindowFontPixels = 11;
constexpr int kGridFontPixels = 11;
constexpr int kHostNameWidth = 200;
constexpr int kPortWidth = 52;
// The type column and its chooser take their room from the description, the
// widest column, so that the window did not grow for them; the chooser is
// as wide as "Modem" and its arrow need.
constexpr int kDescriptionWidth = 196;
constexpr int kTypeWidth = 68;
constexpr int kDescriptionEditWidth = 197;
constexpr int kTypeChooserLeft = 452;
constexpr int kTypeChooserWidth = 69;
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

// A host name written as a telnet:// or raw:// URL gives the entry its kind,
// its user and its port. What is wrong with a malformed one; empty when
// there is nothing wrong.
std::string TakeHostUrl(THostRow& edits) {
    const std::optional<THostUrl> url = SplitHostUrl(TrimBlanks(edits.HostName));
    if (!url) {
        return {};
    }
    std::string problem;
    const std::optional<THostPort> address = SplitHostPort(url->HostPort, &problem);
    if (!address) {
        return problem;
    }
    edits.Protocol = url->Protocol;
    if (!url->User.empty()) {
        edits.UserName = url->User;
    }
    edits.HostName = address->Host;
    if (!address->Port.empty()) {
        edits.Port = address->Port;
    }
    return {};
}

} // namespace

TDialer::TDialer(QWidget* parent)
    : QDialog(parent), m_ownStore(std::make_unique<TQtSettingsStore>()), m_directory(*m_ownStore) {
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
    m_importButton =
        AddButton("ImportButton", QStringLiteral("Import..."), 292, 75, TButtonPicture::SaveAsNew);
    m_exportButton =
        AddButton("ExportButton", QStringLiteral("Export..."), 524, 75, TButtonPicture::Update);
    BuildLoginRow();
    BuildModemButton();
    LabelFields();
    // A serial entry's line settings ("19200 8N1 xonxoff") are wider than the box.
    connect(m_edit3, &QLineEdit::textChanged, m_edit3, &QLineEdit::setToolTip);
    m_edit3->setText(FromUtf8(std::string(THostDirectory::kDefaultPort)));

    QWidget* order[] = {m_hyperGrid1, m_bitBtn1,     m_edit1,        m_edit3,       m_edit2,
                        m_comboBox1,  m_comboBox2,   m_spinBox1,     m_userEdit,    m_passwordEdit,
                        m_stepsEdit,  m_modemButton, m_escapeBox,    m_bitBtn2,     m_bitBtn3,
                        m_bitBtn4,    m_bitBtn5,     m_importButton, m_exportButton};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(m_bitBtn1, &QPushButton::clicked, this, &TDialer::BitBtn1Click);
    connect(m_bitBtn2, &QPushButton::clicked, this, &TDialer::BitBtn2Click);
    connect(m_bitBtn5, &QPushButton::clicked, this, &TDialer::BitBtn5Click);
    connect(m_bitBtn3, &QPushButton::clicked, this, &TDialer::BitBtn3Click);
    connect(m_bitBtn4, &QPushButton::clicked, this, &TDialer::BitBtn4Click);
    connect(m_importButton, &QPushButton::clicked, this, &TDialer::ImportClick);
    connect(m_exportButton, &QPushButton::clicked, this, &TDialer::ExportClick);
}

// Below the address: who logs in, how, and how the board's Escape shows.
void TDialer::BuildLoginRow() {
    m_userEdit = AddEdit("UserEdit", 1, kUserWidth);
    m_userEdit->move(1, kLoginTop);
    m_passwordEdit = AddEdit("PasswordEdit", kPasswordLeft, kPasswordWidth);
    m_passwordEdit->move(kPasswordLeft, kLoginTop);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_passwordEdit->setPlaceholderText(QStringLiteral("(unchanged)"));
    m_passwordEdit->setToolTip(QStringLiteral("Kept in the desktop's keyring, never in a file; "
                                              "left empty, the kept one stays."));
    m_stepsEdit = AddEdit("StepsEdit", kStepsLeft, kStepsEditWidth);
    m_stepsEdit->move(kStepsLeft, kLoginTop);
    m_stepsEdit->setPlaceholderText(FromUtf8(std::string(kDefaultLoginSteps)));
    m_stepsEdit->setToolTip(QStringLiteral(
        "WAIT=SEND steps separated by ';', other waits by '|'; {user}, {password} and {eol} "
        "(End Of Line) in what is sent. Empty: the default steps."));
    m_escapeBox = new QCheckBox(QStringLiteral("Escape Shows Control Characters"), this);
    m_escapeBox->setObjectName(QStringLiteral("EscapeBox"));
    m_escapeBox->setGeometry(kEscapeBoxLeft, kLoginTop, kClientWidth - kEscapeBoxLeft, kEditHeight);
}

void TDialer::BuildModemButton() {
    // A Modem entry's call has more settings than the row has room for.
    m_modemButton = new QPushButton(QStringLiteral("Modem..."), this);
    m_modemButton->setObjectName(QStringLiteral("ModemButton"));
    m_modemButton->setGeometry(kModemButtonLeft, kLoginTop, kModemButtonWidth, kEditHeight);
    m_modemButton->setAutoDefault(false);
    m_modemButton->setEnabled(false);
    connect(m_modemButton, &QPushButton::clicked, this, &TDialer::ModemButtonClick);
}

void TDialer::AddLabel(const QString& text, QWidget* field, int left, int top, int width) {
    auto* label = new QLabel(text, this);
    label->setGeometry(left, top, width, kLabelHeight);
    label->setBuddy(field);
}

void TDialer::LabelFields() {
    const int top = kEditTop - kLabelHeight;
    AddLabel(QStringLiteral("&Host name"), m_edit1, 1, top, 200);
    AddLabel(QStringLiteral("P&ort"), m_edit3, 201, top, 56);
    AddLabel(QStringLiteral("&Description"), m_edit2, 256, top, kDescriptionEditWidth);
    AddLabel(QStringLiteral("&Type"), m_comboBox1, kTypeChooserLeft, top, kTypeChooserWidth);
    AddLabel(QStringLiteral("&Width"), m_comboBox2, kColumnsChooserLeft, top, kColumnsChooserWidth);
    AddLabel(QStringLiteral("T&imeout"), m_spinBox1, kTimeoutBoxLeft, top, kTimeoutBoxWidth + 4);
    AddLabel(QStringLiteral("&User name"), m_userEdit, 1, kLoginLabelTop, kUserWidth);
    AddLabel(QStringLiteral("&Password"), m_passwordEdit, kPasswordLeft, kLoginLabelTop,
             kPasswordWidth);
    AddLabel(QStringLiteral("&Login steps"), m_stepsEdit, kStepsLeft, kLoginLabelTop,
             kStepsEditWidth);
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
    // The calls and the last call lie to the right of what the window shows.
    m_hyperGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_hyperGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    QHeaderView* rows = m_hyperGrid1->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(kRowHeight);
    rows->setDefaultSectionSize(kRowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);

    QHeaderView* header = m_hyperGrid1->horizontalHeader();
    header->setHighlightSections(false);
    // A click on a column's heading sorts the list by it.
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(2, Qt::AscendingOrder);
    connect(
        header, &QHeaderView::sortIndicatorChanged, this, [this](int column, Qt::SortOrder order) {
            m_directory.SortRows(static_cast<THostSortKey>(column), order == Qt::DescendingOrder);
            ShowList();
        });
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
    ShowLoadProblem();
}

void TDialer::HyperGrid1EnterRow(int row) {
    m_directory.EnterRow(row);
    ShowEdits();
}

void TDialer::HyperGrid1DblClick() {
    BitBtn3Click();
}

void TDialer::BitBtn1Click() {
    if (!TakeEditsToSave()) {
        return;
    }
    const bool replacing = m_directory.EditsNameAnEntry();
    if (replacing && !AskToReplace()) {
        return;
    }
    const std::optional<THostRow> replaced =
        replacing ? EntryNamed(m_directory.Edits().Description) : std::nullopt;
    const THostRow edited = m_directory.Edits();
    const THostEditResult result = m_directory.SaveAsNew();
    if (result == THostEditResult::Saved) {
        DropReplacedPassword(replaced, edited);
        KeepPassword(edited);
    }
    Report(result);
}

std::optional<THostRow> TDialer::EntryNamed(const std::string& name) const {
    const int row = m_directory.FindRow(name);
    return row == 0 ? std::nullopt : std::optional<THostRow>(m_directory.Row(row));
}

// The password kept under a replaced entry's name belongs to its login: a
// different login (or none) in its place must not be sent it.
void TDialer::DropReplacedPassword(const std::optional<THostRow>& replaced,
                                   const THostRow& edited) {
    if (!replaced || replaced->UserName.empty() ||
        (replaced->UserName == edited.UserName &&
         TrimBlanks(replaced->HostName) == TrimBlanks(edited.HostName))) {
        return;
    }
    m_keyring.DeletePassword(replaced->Description);
}

bool TDialer::AskToReplace() {
    const QString name = FromUtf8(m_directory.Edits().Description);
    return AskYesNo(this,
                    QStringLiteral("An entry named \"%1\" exists already. Replace it?").arg(name));
}

void TDialer::BitBtn2Click() {
    if (!TakeEditsToSave()) {
        return;
    }
    const bool replacing = m_directory.EditsNameAnotherEntry();
    if (replacing && !AskToReplace()) {
        return;
    }
    const int row = m_directory.CurrentRow();
    const THostRow before =
        row >= 1 && row <= m_directory.RowCount() ? m_directory.Row(row) : THostRow{};
    const THostRow edited = m_directory.Edits();
    const std::optional<THostRow> replaced =
        replacing ? EntryNamed(edited.Description) : std::nullopt;
    const THostEditResult result = m_directory.Update();
    if (result == THostEditResult::Saved) {
        DropReplacedPassword(replaced, edited);
        CarryPassword(before, edited);
        KeepPassword(edited);
    }
    Report(result);
}

// A renamed entry takes its kept password along; an entry that no longer
// has a user name drops it, since it is sent only with one.
void TDialer::CarryPassword(const THostRow& before, const THostRow& edited) {
    if (before.UserName.empty()) {
        return;
    }
    if (edited.UserName.empty()) {
        m_keyring.DeletePassword(before.Description);
        return;
    }
    const TSettingsStore& store = m_directory.Store();
    if (store.FoldCase(before.Description) == store.FoldCase(edited.Description)) {
        return;
    }
    const std::optional<std::string> kept = m_keyring.ReadPassword(before.Description);
    if (kept && !kept->empty() && m_keyring.WritePassword(edited.Description, *kept)) {
        m_keyring.DeletePassword(before.Description);
    }
}

void TDialer::BitBtn5Click() {
    TakeEdits();
    const int row = m_directory.CurrentRow();
    if (row >= 1 && row <= m_directory.RowCount() &&
        !TrimBlanks(m_directory.Row(row).HostName).empty()) {
        const std::string name = m_directory.Row(row).Description;
        // The save reloads the rows: what the entry kept is read before it.
        const bool hadLogin = !m_directory.Row(row).UserName.empty();
        if (!AskYesNo(this, QStringLiteral("Delete the entry \"%1\"?").arg(FromUtf8(name)))) {
            return;
        }
        const THostEditResult result = m_directory.Delete();
        if (result == THostEditResult::Saved && hadLogin) {
            m_keyring.DeletePassword(name);
        }
        Report(result);
        return;
    }
    Report(m_directory.Delete());
}

void TDialer::BitBtn3Click() {
    m_directory.Connect();
    TakeChosenPassword();
    done(QDialog::Accepted);
}

void TDialer::KeepPassword(const THostRow& entry) {
    const QString password = m_passwordEdit->text();
    m_passwordEdit->clear();
    if (password.isEmpty()) {
        return;
    }
    // A password alone is never sent, and nothing would take it out of the
    // keyring again.
    if (entry.UserName.empty()) {
        ShowMessage(QStringLiteral("The password is not kept: a password is sent only with a "
                                   "user name. Type the user name too."));
        return;
    }
    if (m_keyring.WritePassword(entry.Description, ToUtf8(password))) {
        return;
    }
    ShowMessage(QStringLiteral("The password could not be kept: no keyring answers (%1). It "
                               "is not written anywhere; it is asked when the board is called.")
                    .arg(m_keyring.LastError()));
}

void TDialer::TakeChosenPassword() {
    m_chosenPassword.clear();
    const THostRow& chosen = m_directory.Chosen();
    if (chosen.UserName.empty()) {
        return;
    }
    if (const std::optional<std::string> kept = m_keyring.ReadPassword(chosen.Description)) {
        m_chosenPassword = *kept;
        return;
    }
    bool ok = false;
    const QString typed =
        QInputDialog::getText(this, kCaption,
                              QStringLiteral("Password for %1 at \"%2\":")
                                  .arg(FromUtf8(chosen.UserName), FromUtf8(chosen.Description)),
                              QLineEdit::Password, QString(), &ok);
    if (ok) {
        m_chosenPassword = ToUtf8(typed);
    }
}

void TDialer::ImportClick() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Import Host Directory"), QString(),
        QStringLiteral("BBS lists (*.lst *.ini *.csv);;All Files (*)"));
    if (path.isEmpty()) {
        return;
    }
    const std::string file = FileNameToSystem(path);
    const TImportResult result = ImportDirectoryFile(m_directory.Store(), file, &m_keyring);
    m_directory.LoadHosts();
    ShowList();
    ShowEdits();
    ShowMessage(FromUtf8(result.Ok ? result.Summary(ToUtf8(path)) : result.Error));
}

void TDialer::ExportClick() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export Host Directory"), QString(),
                                     QStringLiteral("BBS list (*.lst *.ini);;CSV (*.csv)"));
    if (path.isEmpty()) {
        return;
    }
    try {
        ExportDirectoryFile(m_directory.Rows(), FileNameToSystem(path));
    } catch (const std::exception& error) {
        ShowMessage(FromUtf8(error.what()));
    }
}

void TDialer::ShowLoadProblem() {
    if (!m_directory.LoadProblem().empty()) {
        ShowMessage(FromUtf8(m_directory.LoadProblem()));
    }
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

std::string TDialer::TakeEdits() {
    THostRow& edits = m_directory.Edits();
    edits.HostName = ToUtf8(m_edit1->text());
    edits.Port = ToUtf8(m_edit3->text());
    edits.Description = ToUtf8(m_edit2->text());
    edits.Protocol = static_cast<THostProtocol>(m_comboBox1->currentData().toInt());
    edits.Columns = m_comboBox2->currentData().toInt();
    edits.ConnectTimeout = m_spinBox1->value();
    edits.UserName = ToUtf8(m_userEdit->text());
    edits.LoginSteps = ToUtf8(m_stepsEdit->text());
    edits.EscapeShowsControls = m_escapeBox->isChecked();
    return TakeHostUrl(edits);
}

bool TDialer::TakeEditsToSave() {
    const std::string problem = TakeEdits();
    if (problem.empty()) {
        return true;
    }
    // Nothing is saved from an address that cannot be called.
    ShowMessage(QStringLiteral("The address %1 cannot be used: %2.")
                    .arg(m_edit1->text().trimmed(), FromUtf8(problem)));
    return false;
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
    m_userEdit->setText(FromUtf8(edits.UserName));
    m_stepsEdit->setText(FromUtf8(edits.LoginSteps));
    m_escapeBox->setChecked(edits.EscapeShowsControls);
    m_passwordEdit->clear();
    // Show the beginning of a long host name, not its end.
    for (QLineEdit* edit : {m_edit1, m_edit3, m_edit2}) {
        edit->setCursorPosition(0);
    }
}

// Rebuilds the grid from the directory and selects its current row without
// entering it again.
void TDialer::ShowList() {
    m_showingList = true;
    // A reload lists by description again.
    if (m_directory.IsListedByDescription()) {
        const QSignalBlocker quiet(m_hyperGrid1->horizontalHeader());
        m_hyperGrid1->horizontalHeader()->setSortIndicator(
            static_cast<int>(THostSortKey::Description), Qt::AscendingOrder);
    }
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
