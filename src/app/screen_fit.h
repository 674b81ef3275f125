#pragma once

#include <QSize>

class QWidget;

namespace telvora {

// The font delta at which a window fits the available area of the screen it
// is on: the wanted one, or the largest whole-number scale below it that
// fits (an 80-column screen at Large is 1280 pixels wide, too wide for a
// 1280-pixel screen once the frame is added). around is what the window adds
// to the terminal screen inside its frame (menu bar, status bar, margin).
int WindowFontDelta(const QWidget& window, QSize around, int columns, int rows, int wanted);

} // namespace telvora
