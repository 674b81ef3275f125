#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace telvora {

// The folder chooser ("Choose Directory") of a batch download: the folders
// of the current place as a list (".." goes up; opening an entry selects
// it), a picker of the mounted file systems, and the chosen folder shown
// above. One window is reused, so it keeps the last folder between uses.
class TChooseDir : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 280;
    static constexpr int kClientHeight = 293;

    explicit TChooseDir(QWidget* parent = nullptr);

    // The folder chosen, as a full path without a trailing separator (but "/").
    QString SelectedFolder() const { return m_folder; }
    // Shows this folder (tests and the start).
    void SetFolder(const QString& folder);

    QLabel* Label1 = nullptr;
    QListWidget* DirectoryListBox1 = nullptr;
    QComboBox* DriveComboBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* Ok = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Each opening reads the folders and drives afresh.
    void showEvent(QShowEvent* event) override;

private:
    void FillDrives();
    void FillFolders();
    void OpenEntry(QListWidgetItem* item);
    void ShowSelected();
    // The folder shown, or its nearest ancestor still there.
    void Reread();

    QString m_folder;
};

} // namespace telvora
