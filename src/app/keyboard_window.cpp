#include "app/keyboard_window.h"

#include "keyboard/key_reference.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace telvora {

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 640;

QTableWidget* MakeTable(QWidget* parent, const QStringList& headings, const char* name) {
    auto* table = new QTableWidget(0, static_cast<int>(headings.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headings);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->verticalHeader()->hide();
    return table;
}

void AddRow(QTableWidget& table, const QStringList& cells) {
    const int row = table.rowCount();
    table.insertRow(row);
    for (int column = 0; column < cells.size(); ++column) {
        table.setItem(row, column, new QTableWidgetItem(cells[column]));
    }
}

} // namespace

TKeyboardWindow::TKeyboardWindow(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("KeyboardWindow"));
    setWindowTitle(QStringLiteral("Keyboard"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("Each key sends one ATASCII code, as an Atari keyboard would. "
                                  "A dash: nothing is sent."),
                   this));
    QStringList headings{QStringLiteral("Key")};
    for (const TKeyWay way : kKeyWays) {
        headings << QString::fromLatin1(KeyWayName(way));
    }
    QTableWidget* keys = MakeTable(this, headings, "KeyTable");
    for (const TKeyRow& row : KeyReference()) {
        QStringList cells{QString::fromStdString(row.key)};
        for (const std::string& sends : row.sends) {
            cells << QString::fromStdString(sends);
        }
        AddRow(*keys, cells);
    }
    keys->resizeColumnsToContents();
    layout->addWidget(keys, 1);
    QTableWidget* program =
        MakeTable(this, {QStringLiteral("Key"), QStringLiteral("Does")}, "ProgramKeyTable");
    for (const TProgramKey& key : ProgramKeys()) {
        AddRow(*program, {QString::fromLatin1(key.key), QString::fromLatin1(key.does)});
    }
    program->resizeColumnsToContents();
    program->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(program);
    resize(kWidth, kHeight);
}

TKeyboardWindow& ShowKeyboardWindow(QWidget* mainWindow) {
    auto* window = mainWindow->findChild<TKeyboardWindow*>();
    if (window == nullptr) {
        window = new TKeyboardWindow(mainWindow);
    }
    window->show();
    window->raise();
    return *window;
}

} // namespace telvora
