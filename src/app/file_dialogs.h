#pragma once

#include <QFileDialog>
#include <QString>

#include <string>
#include <vector>

class QWidget;

namespace telvora {

// The user's documents folder where there is one, else the home folder.
QString UserFilesFolder();

// A file dialog made on first use and kept, so that it remembers its folder
// (and a save dialog its last name) between uses. It opens first in
// UserFilesFolder.
QFileDialog& KeptFileDialog(QFileDialog*& dialog, QWidget* parent, const char* name,
                            const QString& title, QFileDialog::AcceptMode mode);

// Runs the dialog: the files chosen, as the system names them; none when
// the user cancelled.
std::vector<std::string> ChosenFiles(QFileDialog& dialog);

} // namespace telvora
