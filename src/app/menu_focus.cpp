#include "app/menu_focus.h"

#include <QApplication>
#include <QEvent>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

namespace telvora {

namespace {

class TScreenKeeper : public QObject {
public:
    TScreenKeeper(QMenuBar& bar, QWidget& screen) : QObject(&bar), m_bar(&bar), m_screen(&screen) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_bar && event->type() == QEvent::FocusIn) {
            // After the menu bar has finished its own focus change.
            QTimer::singleShot(0, this, [this] { GiveBack(); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void GiveBack() {
        if (m_bar && m_screen && m_bar->hasFocus() &&
            QApplication::activePopupWidget() == nullptr) {
            m_screen->setFocus(Qt::OtherFocusReason);
        }
    }

    QPointer<QMenuBar> m_bar;
    QPointer<QWidget> m_screen;
};

} // namespace

void KeepKeysForTheScreen(QMenuBar& bar, QWidget& screen) {
    bar.installEventFilter(new TScreenKeeper(bar, screen));
}

} // namespace telvora
