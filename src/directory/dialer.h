#pragma once

#include "directory/button_pictures.h"
#include "directory/host_directory.h"
#include "directory/login_keyring.h"
#include "directory/settings_store.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace telvora {

class THostTableModel;

// The host directory window ("Dialer"): a list of hosts, each reached by
// Telnet or over a raw TCP bridge and shown 40 or 80 columns wide, kept in the
// settings store. Shown modally; each showing reloads the list from the store.
// Results: Accepted (OK) after Connect or a double click, with ChosenHost,
// ChosenPort, ChosenProtocol and ChosenColumns taken from the chosen row; kModalAbort after
// "&Close"; Rejected (Cancel) after the close box.
class TDialer : public QDialog {
    Q_OBJECT

public:
    static constexpr int kModalAbort = 3;
    static constexpr int kClientWidth = 612;
    static constexpr int kClientHeight = 291;
    static constexpr int kRowHeight = 20;

    // Keeps the directory in the program's own settings file.
    explicit TDialer(QWidget* parent = nullptr);
    // Keeps the directory in the given store, which must outlive the window.
    explicit TDialer(TSettingsStore& store, QWidget* parent = nullptr);
    ~TDialer() override;

    QString ChosenHost() const;
    QString ChosenPort() const;
    THostProtocol ChosenProtocol() const;
    // 40 or 80.
    int ChosenColumns() const;
    // The whole entry chosen, as the session calls it, and its password:
    // from the keyring, or asked when no keyring answers.
    const THostRow& ChosenEntry() const { return m_directory.Chosen(); }
    const std::string& ChosenPassword() const { return m_chosenPassword; }
    int CurrentRow() const { return m_directory.CurrentRow(); }

    void FormShow();
    void LoadHosts();

public Q_SLOTS:
    void HyperGrid1EnterRow(int row);
    void HyperGrid1DblClick();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn5Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void ImportClick();
    void ExportClick();
    // A Modem entry's number, init string, dial command and redials.
    void ModemButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildWindow();
    void BuildGrid();
    QPushButton* AddButton(const char* name, const QString& caption, int left, int width,
                           TButtonPicture picture);
    QLineEdit* AddEdit(const char* name, int left, int width);
    void BuildTypeChooser();
    void BuildColumnsChooser();
    void BuildTimeoutBox();
    void BuildLoginRow();
    void BuildModemButton();
    void AddLabel(const QString& text, QWidget* field, int left, int top, int width);
    void LabelFields();
    // The password typed in its box goes to the keyring (the box is emptied).
    void KeepPassword(const THostRow& entry);
    // Yes when the user lets the edits replace the entry of their name.
    bool AskToReplace();
    void CarryPassword(const THostRow& before, const THostRow& edited);
    std::optional<THostRow> EntryNamed(const std::string& name) const;
    void DropReplacedPassword(const std::optional<THostRow>& replaced, const THostRow& edited);
    void TakeChosenPassword();
    void ShowLoadProblem();
    // The boxes into the edits; what is wrong with an address written as a
    // URL, empty when nothing is.
    std::string TakeEdits();
    // The same, telling the user and false when the address is wrong.
    bool TakeEditsToSave();
    void ShowEdits();
    void ShowList();
    void Report(THostEditResult result);
    void ShowMessage(const QString& text);

    std::unique_ptr<TSettingsStore> m_ownStore;
    TLoginKeyring m_keyring;
    std::string m_chosenPassword;
    THostDirectory m_directory;
    THostTableModel* m_model = nullptr;
    bool m_showingList = false;

    QGroupBox* m_groupBox1 = nullptr;
    QTableView* m_hyperGrid1 = nullptr;
    QLineEdit* m_edit1 = nullptr;
    QLineEdit* m_edit3 = nullptr;
    QLineEdit* m_edit2 = nullptr;
    QComboBox* m_comboBox1 = nullptr;
    QComboBox* m_comboBox2 = nullptr;
    QSpinBox* m_spinBox1 = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QLineEdit* m_stepsEdit = nullptr;
    QCheckBox* m_escapeBox = nullptr;
    QPushButton* m_importButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_bitBtn1 = nullptr;
    QPushButton* m_bitBtn2 = nullptr;
    QPushButton* m_bitBtn5 = nullptr;
    QPushButton* m_bitBtn3 = nullptr;
    QPushButton* m_bitBtn4 = nullptr;
    QPushButton* m_modemButton = nullptr;
};

} // namespace telvora
