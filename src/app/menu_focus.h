#pragma once

class QMenuBar;
class QWidget;

namespace telvora {

// Every key belongs to the remote system unless a menu is open. A menu
// closed with Escape (or Alt pressed alone) would leave the menu bar holding
// the keyboard, and the next key typed would go to it instead of the board:
// whenever the bar takes the focus with no menu open, the screen gets it back.
void KeepKeysForTheScreen(QMenuBar& bar, QWidget& screen);

} // namespace telvora
