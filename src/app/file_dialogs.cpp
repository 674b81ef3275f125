#include "app/file_dialogs.h"

#include "common/qt_text.h"

namespace telvora {

QFileDialog& KeptFileDialog(QFileDialog*& dialog, QWidget* parent, const char* name,
                            const QString& title, QFileDialog::AcceptMode mode) {
    if (dialog == nullptr) {
        dialog = new QFileDialog(parent, title);
        dialog->setObjectName(QString::fromLatin1(name));
        dialog->setAcceptMode(mode);
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
