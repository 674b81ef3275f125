#include "app/text_commands.h"

#include "app/file_dialogs.h"
#include "app/session.h"
#include "common/qt_text.h"
#include "screen/crt_screen.h"
#include "screen/row_text.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>

namespace telvora {

TTextCommands::TTextCommands(QWidget& window, TCrtScreen& screen, TSession& session)
    : QObject(&window), m_window(window), m_screen(screen), m_session(session) {
    // X11's primary selection: what the mouse selects, the middle button types.
    if (QGuiApplication::clipboard()->supportsSelection()) {
        connect(&screen, &TCrtScreen::SelectionMade, this,
                [this] { CopyTo(QClipboard::Selection); });
        connect(&screen, &TCrtScreen::MiddleClicked, this,
                [this] { PasteFrom(QClipboard::Selection); });
    }
}

bool TTextCommands::ScrollbackKey(const QKeyEvent& event) {
    if (event.modifiers() != Qt::ShiftModifier) {
        return false;
    }
    const int page = m_screen.Rows() - 1;
    switch (event.key()) {
    case Qt::Key_PageUp:
        m_screen.ScrollView(page);
        return true;
    case Qt::Key_PageDown:
        m_screen.ScrollView(-page);
        return true;
    case Qt::Key_End:
        m_screen.ReturnToLive();
        return true;
    default:
        return false;
    }
}

void TTextCommands::Copy() {
    CopyTo(QClipboard::Clipboard);
}

bool TTextCommands::Paste() {
    return PasteFrom(QClipboard::Clipboard);
}

void TTextCommands::CopyTo(QClipboard::Mode mode) {
    if (!m_screen.HasSelection()) {
        return;
    }
    const TRows rows = m_screen.SelectedRows();
    const std::string text = RowsAsText(rows);
    const std::vector<std::uint8_t> codes = RowsAsCodes(rows);
    auto* data = new QMimeData;
    data->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    data->setData(QString::fromLatin1(kAtasciiMimeType),
                  QByteArray(reinterpret_cast<const char*>(codes.data()),
                             static_cast<qsizetype>(codes.size())));
    QGuiApplication::clipboard()->setMimeData(data, mode);
}

bool TTextCommands::PasteFrom(QClipboard::Mode mode) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode);
    if (data == nullptr) {
        return false;
    }
    const QString atascii = QString::fromLatin1(kAtasciiMimeType);
    if (data->hasFormat(atascii)) {
        const QByteArray codes = data->data(atascii);
        return m_session.TypeCodes(std::vector<std::uint8_t>(codes.begin(), codes.end()));
    }
    const QByteArray text = data->text().toUtf8();
    TextAsAtascii mapped = TextToAtascii(std::string_view(text.constData(), text.size()));
    return m_session.TypeCodes(std::move(mapped.codes), static_cast<int>(mapped.skipped));
}

void TTextCommands::SaveScrollbackClick() {
    const QString text = QStringLiteral("Text (*.txt)");
    const QString movie = QStringLiteral("ATASCII Movies (*.ata *.ATA)");
    const auto suffixFor = [movie](const QString& filter) {
        return filter == movie ? QStringLiteral("ata") : QStringLiteral("txt");
    };
    const bool first = m_scrollbackDialog == nullptr;
    QFileDialog& dialog =
        KeptFileDialog(m_scrollbackDialog, &m_window, "ScrollbackDialog1",
                       QStringLiteral("Save Scrollback"), QFileDialog::AcceptSave);
    if (first) {
        dialog.setNameFilters({text, movie});
        // So that the dialog's own check for a file to replace looks at the
        // name that will be written.
        connect(&dialog, &QFileDialog::filterSelected, &dialog,
                [&dialog, suffixFor](const QString& f) { dialog.setDefaultSuffix(suffixFor(f)); });
    }
    dialog.setDefaultSuffix(suffixFor(dialog.selectedNameFilter()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    // The type chosen in the dialog decides, whatever the name ends in.
    // A name typed without a suffix gets the chosen type's.
    const bool asMovie = dialog.selectedNameFilter() == movie;
    // The files are named only now, with the suffix of the type last chosen
    // (a filter chosen other than by the user sends no filterSelected).
    dialog.setDefaultSuffix(suffixFor(dialog.selectedNameFilter()));
    m_session.SaveScrollback(FileNameToSystem(dialog.selectedFiles().constFirst()),
                             asMovie ? TSession::SaveAs::Movie : TSession::SaveAs::Text);
}

void TTextCommands::SendTextFileClick() {
    QFileDialog& dialog = KeptFileDialog(m_textDialog, &m_window, "TextDialog1",
                                         QStringLiteral("Send Text File"), QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const std::vector<std::string> chosen = ChosenFiles(dialog);
    if (!chosen.empty()) {
        m_session.SendTextFile(chosen.front());
    }
}

} // namespace telvora
