#include "app/screen_fit.h"

#include "screen/cell_geometry.h"

#include <QScreen>
#include <QWidget>

namespace telvora {

int WindowFontDelta(const QWidget& window, QSize around, int columns, int rows, int wanted) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        return wanted;
    }
    // The frame is known once a window manager has framed the window.
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    const QSize area = screen->availableGeometry().size() - frame - around;
    return FullScreenFontDelta(columns, rows, area.width(), area.height(), wanted);
}

} // namespace telvora
