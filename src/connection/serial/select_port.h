#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QString>

class QComboBox;
class QPushButton;

// The modal dialog in which the user picks the serial port to attach to. The
// list is read once, at creation; the first entry is preselected.
class TSelectPort : public QDialog {
    Q_OBJECT

public:
    using TPortSource = std::function<std::vector<std::string>()>;

    // Lists the serial devices present on this machine.
    explicit TSelectPort(QWidget* owner = nullptr);
    // Lists what source returns (tests give their own).
    TSelectPort(QWidget* owner, const TPortSource& source);

    int PortCount() const { return m_portCount; }
    // Device path of the selected entry; empty while none is selected.
    QString SelectedPort() const { return m_selectedPort; }

    QComboBox* ComboBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

private:
    void FormCreate(const TPortSource& source);
    void ComboBox1Change();

    int m_portCount = 0;
    QString m_selectedPort;
};
