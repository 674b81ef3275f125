#include "app/file_dialogs.h"

#include "common/qt_text.h"

#include <QDir>
#include <QStandardPaths>

namespace telvora {

QString UserFilesFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

QFileDialog& KeptFileDialog(QFileDialog*& dialog, QWidget* parent, const char* name,
                            const QString& title, QFileDialog::AcceptMode mode) {
    if (dialog == nullptr) {
        dialog = new QFileDialog(parent, title);
        dialog->setObjectName(QString::fromLatin1(name));
        dialog->setAcceptMode(mode);
        // The user's own folder, not wherever the last dialog of the program
        // was (the demo movies' folder, read-only once installed); from then
        // on the dialog stays where the user last chose a file.
        dialog->setDirectory(UserFilesFolder());
    }
    return *dialog;
}

std::vector<std::string> ChosenFiles(QFileDialog& dialog) {
    std::vector<std::string> paths;
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& file : dialog.selectedFiles()) {
            paths.push_back(FileNameToSystem(file));
        }
    }
    return paths;
}

} // namespace telvora
