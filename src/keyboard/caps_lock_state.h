#pragma once

class QKeyEvent;

namespace telvora {

// Whether Caps Lock is on, as far as the key events tell: a letter typed
// without Shift arrives as a capital only with Caps Lock on (and with Shift,
// as a small letter only with Caps Lock on). Between letters the last
// finding holds; before the first letter Caps Lock counts as off.
class TCapsLockState {
public:
    void Observe(const QKeyEvent& event);
    bool On() const { return m_on; }

private:
    bool m_on = false;
};

} // namespace telvora
