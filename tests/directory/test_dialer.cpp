#include "directory/dialer.h"
#include "directory/directory_files.h"
#include "directory/memory_settings_store.h"
#include "keyring_session.h"
#include "temp_config.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

namespace telvora {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

constexpr std::string_view kKey = THostDirectory::kDirectoryKey;
constexpr auto kWatchInterval = 10ms;

// Answers every box that opens for the whole test: a question (a box with
// Yes and No) as told, a message with OK; remembers the texts of each.
class TBoxAnswerer {
public:
    TBoxAnswerer() {
        m_timer.setInterval(kWatchInterval);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }
    void Answer(bool yes) { m_yes = yes; }
    const QStringList& Questions() const { return m_questions; }
    const QStringList& Messages() const { return m_messages; }

private:
    void Poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        if (box->button(QMessageBox::Yes) != nullptr) {
            m_questions << box->text();
            box->button(m_yes ? QMessageBox::Yes : QMessageBox::No)->click();
        } else {
            m_messages << box->text();
            box->accept();
        }
    }
    QTimer m_timer;
    QStringList m_questions;
    QStringList m_messages;
    bool m_yes = true;
};

class DialerTest : public ::testing::Test {
protected:
    // Without a type or width the host is stored as before hosts had them.
    void Store(const std::string& description, const std::string& host, const std::string& port,
               const std::optional<std::string>& type = std::nullopt,
               const std::optional<std::string>& columns = std::nullopt) {
        m_store.PutString(kKey, description, host);
        m_store.PutString(kKey, description + "-PORT", port);
        if (type) {
            m_store.PutString(kKey, description + "-PORT-TYPE", *type);
        }
        if (columns) {
            m_store.PutString(kKey, description + "-PORT-COLUMNS", *columns);
        }
    }

    template <typename T> T* Find(const char* name) {
        T* child = m_dialer.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QTableView* Grid() { return Find<QTableView>("HyperGrid1"); }
    QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
    QPushButton* Button(const char* name) { return Find<QPushButton>(name); }
    QComboBox* TypeChooser() { return Find<QComboBox>("ComboBox1"); }
    QComboBox* ColumnsChooser() { return Find<QComboBox>("ComboBox2"); }

    // The host name, port and description cells of a row.
    QStringList GridRow(int viewRow) {
        QStringList cells;
        for (int column = 0; column < 3; ++column) {
            cells << Grid()->model()->index(viewRow, column).data().toString();
        }
        return cells;
    }
    QList<QStringList> GridRows() {
        QList<QStringList> rows;
        for (int r = 0; r < Grid()->model()->rowCount(); ++r) {
            rows << GridRow(r);
        }
        return rows;
    }
    // One column of the grid, top to bottom.
    QStringList GridColumn(int column) {
        QStringList cells;
        for (int r = 0; r < Grid()->model()->rowCount(); ++r) {
            cells << Grid()->model()->index(r, column).data().toString();
        }
        return cells;
    }
    static QStringList Items(const QComboBox* chooser) {
        QStringList items;
        for (int i = 0; i < chooser->count(); ++i) {
            items << chooser->itemText(i);
        }
        return items;
    }
    QStringList Boxes() {
        return {Edit("Edit1")->text(), Edit("Edit3")->text(), Edit("Edit2")->text()};
    }
    void Type(const QString& host, const QString& port, const QString& description) {
        Edit("Edit1")->setText(host);
        Edit("Edit3")->setText(port);
        Edit("Edit2")->setText(description);
    }
    static void ChooseIn(QComboBox* chooser, const QString& text) {
        const int index = chooser->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        chooser->setCurrentIndex(index);
    }
    void Choose(const QString& type) { ChooseIn(TypeChooser(), type); }
    void ChooseColumns(const QString& columns) { ChooseIn(ColumnsChooser(), columns); }
    void ClickRow(int viewRow) {
        const QRect cell = Grid()->visualRect(Grid()->model()->index(viewRow, 2));
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center());
    }
    // Runs the window modally while the action runs inside its event loop.
    int ExecWith(const std::function<void()>& action) {
        QTimer::singleShot(0, &m_dialer, action);
        return m_dialer.exec();
    }

    TMemorySettingsStore m_store;
    TBoxAnswerer m_boxes;
    TDialer m_dialer{m_store};
};

TEST_F(DialerTest, WindowComponentsCaptionsAndGeometry) {
    EXPECT_EQ(m_dialer.windowTitle(), "Dialer");
    EXPECT_EQ(m_dialer.size(), QSize(612, 291));
    EXPECT_EQ(m_dialer.minimumSize(), m_dialer.maximumSize());
    const Qt::WindowFlags flags = m_dialer.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    const std::pair<QWidget*, QRect> fields[] = {{Find<QGroupBox>("GroupBox1"), {0, 0, 617, 188}},
                                                 {Edit("Edit1"), {1, 203, 200, 21}},
                                                 {Edit("Edit3"), {201, 203, 56, 21}},
                                                 {Edit("Edit2"), {256, 203, 197, 21}},
                                                 {TypeChooser(), {452, 203, 69, 21}},
                                                 {ColumnsChooser(), {520, 203, 44, 21}},
                                                 {Find<QSpinBox>("SpinBox1"), {563, 203, 48, 21}}};
    for (const auto& [field, geometry] : fields) {
        EXPECT_EQ(field->geometry(), geometry) << field->objectName().toStdString();
    }
    // Every kind's name and the Escape box's text show whole, inside the window.
    auto* escape = Find<QCheckBox>("EscapeBox");
    for (QWidget* whole : {static_cast<QWidget*>(TypeChooser()), static_cast<QWidget*>(escape)}) {
        EXPECT_GE(whole->width(), whole->sizeHint().width()) << whole->objectName().toStdString();
    }
    for (QWidget* last : {static_cast<QWidget*>(escape), fields[5].first, fields[6].first}) {
        EXPECT_LE(last->geometry().right(), m_dialer.width() - 1)
            << last->objectName().toStdString();
    }
    EXPECT_EQ(Edit("Edit3")->text(), "23");
    EXPECT_EQ(Items(TypeChooser()), (QStringList{"Telnet", "Raw", "Serial", "Modem"}));
    EXPECT_EQ(TypeChooser()->currentText(), "Telnet");
    EXPECT_EQ(Items(ColumnsChooser()), (QStringList{"40", "80"}));
    EXPECT_EQ(ColumnsChooser()->itemData(0).toInt(), 40);
    EXPECT_EQ(ColumnsChooser()->itemData(1).toInt(), 80);
    EXPECT_EQ(ColumnsChooser()->currentText(), "40");
    EXPECT_EQ(Find<QSpinBox>("SpinBox1")->value(), 30);

    struct Expected {
        const char* name;
        const char* caption;
        QRect geometry;
    };
    for (const Expected& b : {Expected{"BitBtn1", "Save As New", {0, 263, 105, 25}},
                              Expected{"BitBtn2", "Update", {108, 263, 105, 25}},
                              Expected{"BitBtn5", "Delete", {215, 263, 75, 25}},
                              Expected{"BitBtn3", "Connect", {368, 263, 75, 25}},
                              Expected{"BitBtn4", "&Close", {446, 263, 75, 25}}}) {
        SCOPED_TRACE(b.name);
        QPushButton* button = Button(b.name);
        EXPECT_EQ(button->text(), b.caption);
        EXPECT_EQ(button->geometry(), b.geometry);
        EXPECT_FALSE(button->autoDefault());
        const QImage normal = button->icon().pixmap(16, 16, QIcon::Normal).toImage();
        const QImage greyed = button->icon().pixmap(16, 16, QIcon::Disabled).toImage();
        ASSERT_EQ(normal.size(), QSize(16, 16));
        ASSERT_EQ(greyed.size(), QSize(16, 16));
        int coloured = 0;
        int opaque = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const QColor n = normal.pixelColor(x, y);
                const QColor g = greyed.pixelColor(x, y);
                opaque += n.alpha() > 0 ? 1 : 0;
                coloured += (n.alpha() > 0 && (n.red() != n.green() || n.green() != n.blue()));
                EXPECT_TRUE(g.red() == g.green() && g.green() == g.blue()) << x << "," << y;
            }
        }
        EXPECT_GT(opaque, 20) << "the picture draws something";
        EXPECT_GT(coloured, 0) << "the normal form has colour";
    }
    // A modem's call is set only for a Modem entry.
    auto* modem = Find<QPushButton>("ModemButton");
    EXPECT_FALSE(modem->isEnabled());
    Choose("Modem");
    EXPECT_TRUE(modem->isEnabled());
}

TEST_F(DialerTest, GridColumnsRowsAndHeader) {
    m_dialer.show();
    QTableView* grid = Grid();
    QHeaderView* header = grid->horizontalHeader();
    QStringList titles;
    QList<int> widths;
    for (int column = 0; column < grid->model()->columnCount(); ++column) {
        titles << grid->model()->headerData(column, Qt::Horizontal).toString();
        widths << header->sectionSize(column);
    }
    EXPECT_EQ(titles, (QStringList{"Hostname", "Port", "Description", "Type", "Cols", "Secs",
                                   "Calls", "Last Call"}));
    EXPECT_EQ(widths.mid(0, 6), (QList<int>{200, 52, 196, 68, 42, 47}));
    // The calls lie beyond the right edge, behind a scroll bar.
    EXPECT_LE(header->sectionPosition(5) + header->sectionSize(5), grid->viewport()->width());
    EXPECT_TRUE(header->isVisible());
    EXPECT_FALSE(grid->verticalHeader()->isVisible());
    EXPECT_EQ(grid->rowHeight(0), 20);
    EXPECT_EQ(grid->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(grid->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    EXPECT_NE(grid->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(grid->showGrid());
    EXPECT_EQ(grid->textElideMode(), Qt::ElideNone);
    ASSERT_NE(grid->itemDelegateForColumn(0), nullptr) << "host names elide";
    EXPECT_NE(grid->itemDelegateForColumn(0), grid->itemDelegate());
    EXPECT_EQ(header->height(), 20) << "the header is row 0 of the grid";

    // The header row is drawn in the highlight colour.
    const QImage picture = header->grab().toImage();
    const QColor highlight = header->palette().color(QPalette::Highlight);
    const QPoint inside(header->sectionPosition(1) + header->sectionSize(1) - 4,
                        header->height() / 2);
    EXPECT_EQ(picture.pixelColor(inside).rgb(), highlight.rgb());
}

TEST_F(DialerTest, TabOrderRunsFromTheListThroughTheButtons) {
    const QStringList expected = {"HyperGrid1", "BitBtn1",   "Edit1",     "Edit3",
                                  "Edit2",      "ComboBox1", "ComboBox2", "SpinBox1",
                                  "BitBtn2",    "BitBtn3",   "BitBtn4",   "BitBtn5"};
    QStringList order;
    QWidget* w = Grid();
    for (int i = 0; i < 200 && order.size() < expected.size(); ++i, w = w->nextInFocusChain()) {
        if (expected.contains(w->objectName()) && !order.contains(w->objectName())) {
            order << w->objectName();
        }
    }
    EXPECT_EQ(order, expected);
}

TEST_F(DialerTest, ShowingLoadsTheStoreAndEntersRowOne) {
    Store("Zulu", "z.example", "2323", "Raw", "80");
    Store("alpha", "a.example", "");
    m_dialer.show();
    EXPECT_THAT(GridRows(),
                ElementsAre(QStringList{"a.example", "23", "alpha"},
                            QStringList{"z.example", "2323", "Zulu"}, QStringList{"", "", ""}));
    EXPECT_THAT(GridColumn(3), ElementsAre("Telnet", "Raw", "")) << "the empty row has no type";
    EXPECT_THAT(GridColumn(4), ElementsAre("40", "80", "")) << "nor a width";
    EXPECT_EQ(Boxes(), (QStringList{"a.example", "23", "alpha"}));
    EXPECT_EQ(TypeChooser()->currentText(), "Telnet");
    EXPECT_EQ(ColumnsChooser()->currentText(), "40");
    EXPECT_EQ(m_dialer.CurrentRow(), 1);
    EXPECT_EQ(Grid()->currentIndex().row(), 0);

    // Each showing reloads, so changes made elsewhere appear.
    m_dialer.hide();
    Store("Middle", "m.example", "1");
    m_dialer.show();
    EXPECT_EQ(Grid()->model()->rowCount(), 4);
}

TEST_F(DialerTest, EmptyStoreShowsOneEmptyRowAndDefaultBoxes) {
    m_dialer.show();
    EXPECT_THAT(GridRows(), ElementsAre(QStringList{"", "", ""}));
    EXPECT_EQ(Boxes(), (QStringList{"", "23", ""}));
}

TEST_F(DialerTest, LongHostNamesEndInAnEllipsis) {
    const std::string longName(80, 'w');
    Store(longName, longName, "23");
    m_dialer.show();
    QTableView* grid = Grid();
    // Paints the first row's host name with the column's delegate and, for
    // comparison, with the grid's plain one, both asked not to elide.
    const auto paint = [grid](int column, QAbstractItemDelegate* delegate) {
        QStyleOptionViewItem option;
        option.initFrom(grid->viewport());
        option.font = grid->font();
        option.fontMetrics = QFontMetrics(grid->font());
        option.rect = QRect(0, 0, grid->columnWidth(column), grid->rowHeight(0));
        option.textElideMode = Qt::ElideNone;
        QImage image(option.rect.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        delegate->paint(&painter, option, grid->model()->index(0, column));
        return image;
    };
    QAbstractItemDelegate* plain = grid->itemDelegate();
    QAbstractItemDelegate* hostNames = grid->itemDelegateForColumn(0);
    ASSERT_NE(hostNames, nullptr);
    EXPECT_NE(paint(0, hostNames), paint(0, plain)) << "the host name is elided";
}

TEST_F(DialerTest, ClickingARowFillsTheBoxes) {
    Store("Alpha", "a.example", "1");
    Store("Beta", "b.example", "2", "Raw");
    m_dialer.show();
    ClickRow(1);
    EXPECT_EQ(m_dialer.CurrentRow(), 2);
    EXPECT_EQ(Boxes(), (QStringList{"b.example", "2", "Beta"}));
    EXPECT_EQ(TypeChooser()->currentText(), "Raw");
    ClickRow(0);
    EXPECT_EQ(TypeChooser()->currentText(), "Telnet");
    ClickRow(1);
    ClickRow(2);
    EXPECT_EQ(Boxes(), (QStringList{"", "23", ""}));
    EXPECT_EQ(TypeChooser()->currentText(), "Telnet");
}

TEST_F(DialerTest, SaveAsNewAddsTheEntryAndRejectsBlanksWithAMessage) {
    m_dialer.show();
    Type("bbs.example.org", "abc", "Club BBS");
    Button("BitBtn1")->click();
    EXPECT_EQ(m_store.Value(kKey, "Club BBS"), "bbs.example.org");
    EXPECT_EQ(m_store.Value(kKey, "Club BBS-PORT"), "23");
    EXPECT_EQ(m_store.Value(kKey, "Club BBS-PORT-TYPE"), "Telnet");
    EXPECT_THAT(GridRows(), ElementsAre(QStringList{"bbs.example.org", "23", "Club BBS"},
                                        QStringList{"", "", ""}));

    Type("raw.example.org", "9000", "Raw Board");
    Choose("Raw");
    Button("BitBtn1")->click();
    EXPECT_EQ(m_store.Value(kKey, "Raw Board-PORT"), "9000");
    EXPECT_EQ(m_store.Value(kKey, "Raw Board-PORT-TYPE"), "Raw");
    EXPECT_THAT(GridColumn(3), ElementsAre("Telnet", "Raw", ""));

    Type("  ", "23", "No host");
    Button("BitBtn1")->click();
    EXPECT_THAT(m_boxes.Messages(),
                ElementsAre("Please enter the hostname and description first."));
    EXPECT_EQ(GridRows().size(), 3);
    EXPECT_EQ(Boxes(), (QStringList{"  ", "23", "No host"}));
}

TEST_F(DialerTest, DescriptionsWithPortSuffixAreRefusedWithAMessage) {
    Store("Alpha", "a.example", "1");
    m_dialer.show();
    const auto before = GridRows();
    const int commits = m_store.CommitCount();
    Type("h", "1", "Mine-port");
    Button("BitBtn1")->click();
    Button("BitBtn2")->click();
    ASSERT_EQ(m_boxes.Messages().size(), 2);
    EXPECT_TRUE(m_boxes.Messages()[0].contains("-PORT"));
    EXPECT_EQ(m_boxes.Messages()[0], m_boxes.Messages()[1]);
    EXPECT_EQ(GridRows(), before);
    EXPECT_EQ(m_store.CommitCount(), commits);
}

TEST_F(DialerTest, UpdateAndDeleteActOnTheSelectedRow) {
    Store("Alpha", "a.example", "1");
    Store("Beta", "b.example", "2");
    m_dialer.show();
    ClickRow(1);
    Type("c.example", "3", "Charlie");
    Button("BitBtn2")->click();
    EXPECT_FALSE(m_store.Value(kKey, "Beta"));
    EXPECT_THAT(GridRows(),
                ElementsAre(QStringList{"a.example", "1", "Alpha"},
                            QStringList{"c.example", "3", "Charlie"}, QStringList{"", "", ""}));
    ClickRow(0);
    Button("BitBtn5")->click();
    EXPECT_THAT(GridRows(),
                ElementsAre(QStringList{"c.example", "3", "Charlie"}, QStringList{"", "", ""}));
    EXPECT_EQ(Boxes(), (QStringList{"c.example", "3", "Charlie"}));
}

// The type and the width are kept alike: each row shows its own, Update and
// Save As New store the chosen one and Delete takes it with the entry.
struct TEntryField {
    const char* name;
    const char* suffix; // of the stored value's name
    int column;         // in the grid
    const char* plain;  // for an entry stored without it
    const char* other;
    const char* keptSuffix; // the other field, which an edit of this one leaves
    const char* keptPlain;
};
void PrintTo(const TEntryField& field, std::ostream* os) {
    *os << field.name;
}

class DialerFieldTest : public DialerTest, public ::testing::WithParamInterface<TEntryField> {
protected:
    QComboBox* Chooser() { return GetParam().column == 3 ? TypeChooser() : ColumnsChooser(); }
    std::string Shown() { return Chooser()->currentText().toStdString(); }
    std::optional<std::string> Stored(const std::string& description, const char* suffix) {
        return m_store.Value(kKey, description + suffix);
    }
};

TEST_P(DialerFieldTest, EachRowShowsItsOwnAndEditsStoreIt) {
    const TEntryField& f = GetParam();
    Store("Alpha", "a.example", "23");
    Store("Beta", "b.example", "8000");
    m_store.PutString(kKey, std::string("Beta") + f.suffix, f.other);
    m_dialer.show();
    EXPECT_THAT(GridColumn(f.column), ElementsAre(f.plain, f.other, ""));
    ClickRow(1);
    EXPECT_EQ(Shown(), f.other);
    ClickRow(0);
    EXPECT_EQ(Shown(), f.plain);

    // Update changes it both ways.
    ChooseIn(Chooser(), f.other);
    Button("BitBtn2")->click();
    EXPECT_EQ(Stored("Alpha", f.suffix), f.other);
    EXPECT_EQ(Stored("Alpha", f.keptSuffix), f.keptPlain) << "the other field stays";
    ClickRow(1);
    ChooseIn(Chooser(), f.plain);
    Button("BitBtn2")->click();
    EXPECT_EQ(Stored("Beta", f.suffix), f.plain);
    EXPECT_EQ(Stored("Beta", "-PORT"), "8000");
    EXPECT_THAT(GridColumn(f.column), ElementsAre(f.other, f.plain, ""));
    EXPECT_EQ(Shown(), f.other) << "the reload enters row 1";

    // Save As New takes the chosen one; the empty row shows the plain one.
    Type("new.example", "2323", "New");
    ChooseIn(Chooser(), f.other);
    Button("BitBtn1")->click();
    EXPECT_EQ(Stored("New", f.suffix), f.other);
    EXPECT_THAT(GridColumn(f.column), ElementsAre(f.other, f.plain, f.other, ""));
    ClickRow(2);
    ClickRow(3);
    EXPECT_EQ(Shown(), f.plain);

    ClickRow(2);
    Button("BitBtn5")->click();
    EXPECT_FALSE(Stored("New", f.suffix));
    EXPECT_THAT(GridColumn(f.column), ElementsAre(f.other, f.plain, ""));
}

INSTANTIATE_TEST_SUITE_P(
    TypeAndWidth, DialerFieldTest,
    ::testing::Values(TEntryField{"Type", "-PORT-TYPE", 3, "Telnet", "Raw", "-PORT-COLUMNS", "40"},
                      TEntryField{"Width", "-PORT-COLUMNS", 4, "40", "80", "-PORT-TYPE", "Telnet"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DialerTest, FailedSaveIsReportedAndTheListStaysAsItWas) {
    Store("Alpha", "a.example", "1");
    Store("Beta", "b.example", "2");
    m_dialer.show();
    ClickRow(1);
    const auto before = GridRows();
    m_store.SetCommitFails(true);
    Type("n.example", "x", "New");
    Button("BitBtn1")->click();
    Button("BitBtn5")->click();
    ASSERT_EQ(m_boxes.Messages().size(), 2);
    EXPECT_EQ(m_boxes.Messages()[0], "The host directory could not be saved. Nothing was changed.");
    EXPECT_EQ(GridRows(), before);
    EXPECT_EQ(Grid()->currentIndex().row(), 1);
    EXPECT_EQ(m_dialer.CurrentRow(), 2);
    EXPECT_EQ(Boxes(), (QStringList{"n.example", "23", "New"}));
    EXPECT_EQ(m_store.Value(kKey, "Beta"), "b.example");
}

// Connect and a double click close the window with the clicked row's stored
// values, whatever the boxes say; one after another, so that nothing is left
// over from the call before.
TEST_F(DialerTest, ConnectTakesTheRowsStoredValuesAndClosesWithOk) {
    Store("Alpha", "a.example", "6502", "Raw", "80");
    Store("Beta", "b.example", "2");
    EXPECT_EQ(m_dialer.ChosenColumns(), 40) << "before any Connect";
    struct TCall {
        const char* name;
        std::optional<int> row; // clicked first; without, row 1 as entered on showing
        bool doubleClick;
        const char* host;
        const char* port;
        THostProtocol protocol;
        int columns;
    };
    const TCall calls[] = {
        {"row 1, other values typed", std::nullopt, false, "a.example", "6502", THostProtocol::Raw,
         80},
        {"stored without type or width", 1, false, "b.example", "2", THostProtocol::Telnet, 40},
        {"row 1 again", 0, false, "a.example", "6502", THostProtocol::Raw, 80},
        {"the empty row", 2, false, "", "", THostProtocol::Telnet, 40},
        {"double click on row 1", 0, true, "a.example", "6502", THostProtocol::Raw, 80},
        {"double click on row 2", 1, true, "b.example", "2", THostProtocol::Telnet, 40}};
    for (const TCall& call : calls) {
        SCOPED_TRACE(call.name);
        EXPECT_EQ(ExecWith([&] {
                      if (!call.row) {
                          Type("typed.example", "99", "Typed");
                          Choose("Telnet");
                          ChooseColumns("40");
                      } else if (call.doubleClick) {
                          const QRect cell =
                              Grid()->visualRect(Grid()->model()->index(*call.row, 0));
                          QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center());
                          QTest::mouseDClick(Grid()->viewport(), Qt::LeftButton, {}, cell.center());
                          return;
                      } else {
                          ClickRow(*call.row);
                      }
                      Button("BitBtn3")->click();
                  }),
                  QDialog::Accepted);
        EXPECT_FALSE(m_dialer.isVisible());
        EXPECT_EQ(m_dialer.ChosenHost(), call.host);
        EXPECT_EQ(m_dialer.ChosenPort(), call.port);
        EXPECT_EQ(m_dialer.ChosenProtocol(), call.protocol);
        EXPECT_EQ(m_dialer.ChosenColumns(), call.columns);
    }
}

TEST_F(DialerTest, CloseButtonAbortsAndCloseBoxCancels) {
    EXPECT_EQ(ExecWith([this] { Button("BitBtn4")->click(); }), TDialer::kModalAbort);
    EXPECT_EQ(ExecWith([this] { m_dialer.close(); }), QDialog::Rejected);
    // The window is reused: a later showing still works.
    Store("Alpha", "a.example", "1");
    EXPECT_EQ(ExecWith([this] { Button("BitBtn3")->click(); }), QDialog::Accepted);
    EXPECT_EQ(m_dialer.ChosenHost(), "a.example");
}

TEST(DialerOverQSettings, KeepsHostsInTheUserConfigurationAndReportsFailures) {
    const QString folder = test::FreshConfigFolder(QStringLiteral("dialer"));
    {
        TDialer dialer;
        dialer.show();
        dialer.findChild<QLineEdit*>("Edit1")->setText("bbs.example.org");
        dialer.findChild<QLineEdit*>("Edit3")->setText("2323");
        dialer.findChild<QLineEdit*>("Edit2")->setText("Club/BBS = 100%");
        auto* chooser = dialer.findChild<QComboBox*>("ComboBox1");
        chooser->setCurrentIndex(chooser->findText("Raw"));
        auto* widths = dialer.findChild<QComboBox*>("ComboBox2");
        widths->setCurrentIndex(widths->findText("80"));
        dialer.findChild<QSpinBox*>("SpinBox1")->setValue(7);
        dialer.findChild<QPushButton*>("BitBtn1")->click();
    }
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath("Marrowby/Telvora.conf")));
    TDialer dialer;
    dialer.show();
    auto* grid = dialer.findChild<QTableView*>("HyperGrid1");
    ASSERT_EQ(grid->model()->rowCount(), 2);
    QStringList cells;
    for (int column = 1; column <= 5; ++column) {
        cells << grid->model()->index(0, column).data().toString();
    }
    EXPECT_EQ(cells, (QStringList{"2323", "Club/BBS = 100%", "Raw", "80", "7"}));
    EXPECT_EQ(dialer.findChild<QComboBox*>("ComboBox1")->currentText(), "Raw");
    EXPECT_EQ(dialer.findChild<QComboBox*>("ComboBox2")->currentText(), "80");
    EXPECT_EQ(dialer.findChild<QSpinBox*>("SpinBox1")->value(), 7);
    dialer.hide();

    const QString blocker = QDir(folder).filePath("blocker");
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker);
    TBoxAnswerer boxes;
    dialer.show();
    dialer.findChild<QLineEdit*>("Edit1")->setText("x.example");
    dialer.findChild<QLineEdit*>("Edit2")->setText("X");
    dialer.findChild<QPushButton*>("BitBtn1")->click();
    EXPECT_THAT(boxes.Messages(),
                ElementsAre("The host directory could not be saved. Nothing was changed."));
    EXPECT_EQ(grid->model()->rowCount(), 1);
}

TEST_F(DialerTest, SaveAsNewOverAnExistingNameAndDeleteAskFirst) {
    Store("Club BBS", "old.example", "23");
    m_dialer.show();
    Type("new.example", "23", "club bbs");
    m_boxes.Answer(false);
    Button("BitBtn1")->click();
    EXPECT_EQ(m_store.Value(kKey, "Club BBS"), "old.example") << "No keeps it";
    m_boxes.Answer(true);
    Button("BitBtn1")->click();
    EXPECT_THAT(GridRows(),
                ElementsAre(QStringList{"new.example", "23", "club bbs"}, QStringList{"", "", ""}));

    ClickRow(0);
    m_boxes.Answer(false);
    Button("BitBtn5")->click();
    EXPECT_EQ(GridRows().size(), 2);
    m_boxes.Answer(true);
    Button("BitBtn5")->click();
    EXPECT_THAT(GridRows(), ElementsAre(QStringList{"", "", ""}));
    EXPECT_THAT(m_boxes.Questions(),
                ElementsAre("An entry named \"club bbs\" exists already. Replace it?",
                            "An entry named \"club bbs\" exists already. Replace it?",
                            "Delete the entry \"club bbs\"?", "Delete the entry \"club bbs\"?"));
}

TEST_F(DialerTest, UpdateOntoAnotherEntrysNameAsksFirst) {
    Store("Alpha", "a.example", "23");
    Store("Beta", "b.example", "23");
    m_dialer.show();
    ClickRow(0);
    Edit("Edit2")->setText("beta");
    m_boxes.Answer(false);
    Button("BitBtn2")->click();
    EXPECT_EQ(GridRows().size(), 3) << "No keeps both";
    m_boxes.Answer(true);
    Button("BitBtn2")->click();
    EXPECT_THAT(GridRows(),
                ElementsAre(QStringList{"a.example", "23", "beta"}, QStringList{"", "", ""}));
    EXPECT_EQ(m_boxes.Questions().size(), 2);
}

TEST_F(DialerTest, AStoreProblemIsToldWhenTheWindowOpens) {
    m_store.SetProblem("The host directory file \"/x/Telvora.conf\" is not a regular file");
    m_dialer.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_boxes.Messages().isEmpty(); }));
    EXPECT_EQ(m_boxes.Messages().front(),
              "The host directory file \"/x/Telvora.conf\" is not a regular file");
}

TEST_F(DialerTest, EveryFieldHasALabel) {
    QList<QWidget*> fields;
    for (QWidget* child : m_dialer.findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(child) != nullptr && child->parent() == &m_dialer) {
            fields << child;
        }
    }
    fields << TypeChooser() << ColumnsChooser() << Find<QSpinBox>("SpinBox1");
    ASSERT_EQ(fields.size(), 9);
    for (QWidget* field : fields) {
        const auto labels = m_dialer.findChildren<QLabel*>();
        EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [field](QLabel* label) {
            return label->buddy() == field;
        })) << field->objectName().toStdString();
    }
}

TEST_F(DialerTest, AnAddressWrittenAsAUrlGivesKindPortAndUser) {
    const QString kBadPort = "The address telnet://bbs.example.org:70000 cannot be used: the port "
                             "must be a number from 1 to 65535.";
    m_dialer.show();
    for (const auto& [address, description] :
         {std::pair{"TELNET://guest@bbs.example.org:2323/", "Guest Board"},
          std::pair{"Raw://bbs.example.org:9000", "Raw Board"},
          std::pair{"telnet://[::1]:6502", "Six"}}) {
        Type(address, "23", description);
        Button("BitBtn1")->click();
    }
    EXPECT_EQ(m_store.Value(kKey, "Guest Board"), "bbs.example.org");
    EXPECT_EQ(m_store.Value(kKey, "Guest Board-PORT"), "2323");
    EXPECT_EQ(m_store.Value(kKey, "Guest Board-PORT-USER"), "guest");
    EXPECT_EQ(m_store.Value(kKey, "Raw Board-PORT-TYPE"), "Raw");
    EXPECT_EQ(m_store.Value(kKey, "Raw Board-PORT"), "9000");
    EXPECT_EQ(m_store.Value(kKey, "Six"), "::1");
    EXPECT_EQ(m_store.Value(kKey, "Six-PORT"), "6502");
    const auto stored = m_store.Values(kKey).size();
    Type("telnet://bbs.example.org:70000", "23", "Bad Port");
    Button("BitBtn1")->click();
    Button("BitBtn2")->click();
    EXPECT_EQ(m_store.Values(kKey).size(), stored);
    EXPECT_THAT(m_boxes.Messages(), ElementsAre(kBadPort, kBadPort));
}

// A login's password goes to the desktop's keyring and comes back from it
// for the call; where no keyring answers, the user is told, and asked for
// the password when the board is called. The keyring's bus is reached once
// per process, so these want a process each, as ctest runs them.
class DialerPasswordTest : public DialerTest {
protected:
    void SetUp() override {
        if (std::exchange(s_busReached, true)) {
            GTEST_SKIP() << "the keyring's bus was reached already: run each test alone";
        }
    }
    static inline bool s_busReached = false;

    // Saves an entry with a user name and a password typed in their boxes,
    // then connects to it; what the password question asked, if anything.
    QString SaveAndConnect(const QString& typedAtConnect) {
        QString asked;
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
                asked = dialog->labelText();
                dialog->setTextValue(typedAtConnect);
                dialog->accept();
            }
        });
        answerer.start(10);
        ExecWith([this] {
            Type("bbs.example", "23", "Club");
            Edit("UserEdit")->setText("sam");
            Edit("PasswordEdit")->setText("s3cret");
            Button("BitBtn1")->click();
            EXPECT_EQ(Edit("PasswordEdit")->text(), "") << "the box keeps no password";
            Button("BitBtn3")->click();
        });
        return asked;
    }
    // No value of the directory holds the password.
    void ExpectNoPasswordStored() {
        for (const auto& [name, value] : m_store.Values(kKey)) {
            EXPECT_EQ(value.Data.find("s3cret"), std::string::npos) << name;
        }
    }
};

TEST_F(DialerPasswordTest, ThePasswordIsKeptInTheKeyringAndTakenForTheCall) {
    test::TKeyringSession keyring;
    ASSERT_TRUE(keyring.Ready()) << "dbus-run-session and gnome-keyring-daemon are needed";
    EXPECT_EQ(SaveAndConnect(QStringLiteral("typed")), "") << "nothing asked";
    EXPECT_TRUE(m_boxes.Messages().isEmpty()) << m_boxes.Messages().join('|').toStdString();
    EXPECT_EQ(m_dialer.ChosenEntry().UserName, "sam");
    EXPECT_EQ(m_dialer.ChosenPassword(), "s3cret");
    ExpectNoPasswordStored();
}

TEST_F(DialerPasswordTest, WithoutAKeyringThePasswordIsAskedAtConnect) {
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/telvora-test-bus");
    const QString asked = SaveAndConnect(QStringLiteral("typed"));
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
    ASSERT_EQ(m_boxes.Messages().size(), 1);
    EXPECT_TRUE(m_boxes.Messages().front().startsWith("The password could not be kept"));
    EXPECT_EQ(asked, "Password for sam at \"Club\":");
    EXPECT_EQ(m_dialer.ChosenPassword(), "typed");
    ExpectNoPasswordStored();
}

// A password is kept only with a user name: one typed alone is refused with a
// word, and an entry whose user name is taken away loses its password.
TEST_F(DialerPasswordTest, APasswordIsKeptOnlyWithAUserName) {
    test::TKeyringSession keyring;
    ASSERT_TRUE(keyring.Ready()) << "dbus-run-session and gnome-keyring-daemon are needed";
    const TLoginKeyring kept;
    // Saved as a new Club (answering Yes to replacing it), or updated.
    const auto save = [this](const char* host, const char* user, const char* password,
                             const char* button) {
        ExecWith([&] {
            Type(host, "23", "Club");
            Edit("UserEdit")->setText(user);
            Edit("PasswordEdit")->setText(password);
            Button(button)->click();
            m_dialer.reject();
        });
    };
    save("bbs.example", "sam", "s3cret", "BitBtn1");
    ASSERT_EQ(kept.ReadPassword("Club"), "s3cret");
    save("bbs.example", "sam", "", "BitBtn1");
    EXPECT_EQ(kept.ReadPassword("Club"), "s3cret") << "the same login saved again";
    save("other.example", "sam", "", "BitBtn1");
    EXPECT_EQ(kept.ReadPassword("Club"), "") << "another board took the entry's place";
    save("other.example", "tom", "t0m", "BitBtn2");
    ASSERT_EQ(kept.ReadPassword("Club"), "t0m");
    save("other.example", "", "", "BitBtn2");
    EXPECT_EQ(kept.ReadPassword("Club"), "") << "left in the keyring without its login";
    save("other.example", "", "alone", "BitBtn2");
    EXPECT_EQ(kept.ReadPassword("Club"), "");
    EXPECT_THAT(m_boxes.Messages(),
                ElementsAre("The password is not kept: a password is sent only with a user "
                            "name. Type the user name too."));
}

// The command line's list: where each kind of entry calls, in its own words.
TEST(DirectoryEntriesList, NamesEachKindsAddress) {
    TMemorySettingsStore store;
    THostDirectory directory(store);
    directory.LoadHosts();
    const auto save = [&](THostRow row, THostProtocol kind) {
        row.Protocol = kind;
        directory.Edits() = row;
        ASSERT_EQ(directory.SaveAsNew(), THostEditResult::Saved);
    };
    save(THostRow{"bbs.example.org", "2323", "Board"}, THostProtocol::Telnet);
    save(THostRow{"/dev/ttyS1", "9600 7E1 xonxoff", "Cable"}, THostProtocol::Serial);
    THostRow modem{"/dev/ttyUSB0", "19200 8N1 rtscts", "Dial-up"};
    modem.Modem.Number = "555-1234";
    save(modem, THostProtocol::Modem);
    std::string problem;
    EXPECT_EQ(ListDirectoryEntries(store, problem),
              "Board\tTelnet\tbbs.example.org:2323\t40\t0\t-\n"
              "Cable\tSerial\t/dev/ttyS1 (9600 7E1 xonxoff)\t40\t0\t-\n"
              "Dial-up\tModem\t555-1234 on /dev/ttyUSB0 (19200 8N1 rtscts)\t40\t0\t-\n");
    EXPECT_EQ(problem, "");
}

} // namespace
} // namespace telvora
