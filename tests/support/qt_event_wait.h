#pragma once

// Runs the Qt event loop of the test thread until a condition holds or the
// time is up, so that posted events, notifiers and hand-overs from other
// threads are served meanwhile. Every wait in a test is bounded this way.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

// The running application, or one made here for tests without a widget main.
inline QCoreApplication& TestApplication() {
    if (QCoreApplication* running = QCoreApplication::instance()) {
        return *running;
    }
    static int argc = 1;
    static char name[] = "telvora-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    TestApplication();
    // Wakes the waiting event loop now and then, so the condition is looked at.
    static QTimer tick;
    if (!tick.isActive()) {
        tick.start(5);
    }
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void ProcessEventsFor(int ms) {
    ProcessEventsUntil([] { return false; }, ms);
}
