#include "common/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

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

void KeepOnScreen(QWidget& window) {
    const QScreen* where = window.screen();
    if (where == nullptr || !window.isVisible()) {
        return;
    }
    const QRect area = where->availableGeometry();
    const QRect frame = window.frameGeometry();
    const int left = std::clamp(frame.left(), area.left(),
                                std::max(area.left(), area.right() - frame.width() + 1));
    const int top = std::clamp(frame.top(), area.top(),
                               std::max(area.top(), area.bottom() - frame.height() + 1));
    if (left != frame.left() || top != frame.top()) {
        window.move(left, top);
    }
}

} // namespace telvora
