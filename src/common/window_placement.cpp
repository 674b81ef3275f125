#include "common/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace telvora {

void CentreOnScreen(QWidget& window) {
    const QWidget* anchor = window.parentWidget() != nullptr ? window.parentWidget() : &window;
    const QScreen* where = anchor->screen();
    if (where == nullptr) {
        where = QGuiApplication::primaryScreen();
    }
    if (where == nullptr) {
        return;
    }
    QRect frame = window.frameGeometry();
    frame.moveCenter(where->availableGeometry().center());
    window.move(frame.topLeft());
}

} // namespace telvora
