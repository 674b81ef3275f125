#include "keyboard/caps_lock_state.h"

#include <QKeyEvent>

namespace telvora {

void TCapsLockState::Observe(const QKeyEvent& event) {
    const QString text = event.text();
    const bool letterKey = event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z;
    // Ctrl and Alt change what the text holds; only plain and shifted
    // letters tell the state.
    if (!letterKey || text.size() != 1 || !text.front().isLetter() ||
        (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0) {
        return;
    }
    const bool shift = event.modifiers().testFlag(Qt::ShiftModifier);
    m_on = text.front().isUpper() != shift;
}

} // namespace telvora
