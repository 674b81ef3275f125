#pragma once

#include <QDialog>

namespace telvora {

// Help > Keyboard: every key and what it sends, alone and with each
// modifier, from the key translation itself; then the keys the program
// takes for itself.
class TKeyboardWindow : public QDialog {
    Q_OBJECT

public:
    explicit TKeyboardWindow(QWidget* parent = nullptr);
};

// Shows the window beside the main window (made once, kept); it does not
// hold the keys, so the board can be typed to while it is open.
TKeyboardWindow& ShowKeyboardWindow(QWidget* mainWindow);

} // namespace telvora
