#pragma once

// What the live-session tests share: a window whose messages are recorded
// instead of shown, waits that serve the event loop while a blocking peer
// works on a thread of its own, and reading the screen back as text.

#include "app/main_window.h"
#include "app/menu_status.h"
#include "common/message_box.h"
#include "program.h"
#include "screen/crt_screen.h"

#include "qt_event_wait.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace telvora::test {

class SessionTest : public ::testing::Test {
protected:
    static constexpr int kWaitMs = 10000;

    void SetUp() override {
        SetMessageSink([this](const QString& text) { messages.push_back(text); });
        // The capture file lands in the home folder: one of this test's own.
        m_home = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
    }
    void TearDown() override {
        window.ShutDown();
        SetMessageSink({});
        qputenv("HOME", m_home);
    }

    // Runs body on a thread of its own and serves the event loop until it
    // has returned; what it returns, or a default value when it took too long.
    template <typename Body> auto OnPeer(Body body, int timeoutMs = kWaitMs) {
        auto result = std::async(std::launch::async, body);
        const bool done = ProcessEventsUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            timeoutMs);
        EXPECT_TRUE(done) << "the peer did not finish in time";
        return result.get();
    }

    // The screen's row as text (codes below 32 and from 127 on as '?').
    std::string Row(int row) const {
        std::string text;
        for (int column = 1; column <= window.Screen()->Columns(); ++column) {
            const std::uint8_t code = window.Screen()->Cell(column, row);
            text.push_back(code >= 32 && code < 127 ? static_cast<char>(code) : '?');
        }
        return text;
    }
    bool RowStartsWith(int row, const std::string& text) const {
        return Row(row).rfind(text, 0) == 0;
    }
    bool ScreenShows(const std::string& text) const {
        for (int row = 1; row <= window.Screen()->Rows(); ++row) {
            if (Row(row).find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    bool WaitForMessage(const QString& text, int timeoutMs = kWaitMs) {
        return ProcessEventsUntil([&] { return messages.contains(text); }, timeoutMs);
    }
    bool WaitForAnyMessage(int timeoutMs = kWaitMs) {
        return ProcessEventsUntil([&] { return !messages.isEmpty(); }, timeoutMs);
    }
    bool WaitForEnd(int timeoutMs = kWaitMs) {
        return ProcessEventsUntil([&] { return window.Session().LiveConnections() == 0; },
                                  timeoutMs);
    }
    // The status line as the monitor shows it now.
    std::pair<QString, QString> Status() {
        window.Session().StatusMonitor().ComputeStatus();
        return {window.Session().StatusMonitor().Text1(), window.Session().StatusMonitor().Text2()};
    }

    bool Enabled(const char* name) const { return window.Entry(name)->isEnabled(); }
    // The menus as they are with nothing running.
    void ExpectIdleMenus() const {
        for (const char* name : {"M_TelnetStart", "AttachToSerialPort1", "M_PlayMovie"}) {
            EXPECT_TRUE(Enabled(name)) << name;
        }
        for (const char* name : {"M_TelnetStop", "Disconnect1", "M_StopMovie"}) {
            EXPECT_FALSE(Enabled(name)) << name;
        }
        EXPECT_FALSE(window.DownloadMenu()->isEnabled());
    }

    void Press(int key, Qt::KeyboardModifiers modifiers, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QCoreApplication::sendEvent(window.Screen(), &event);
    }

    QTemporaryDir home;
    test::TProgram program{Tmain::Sound::Off};
    Tmain& window = program.window;
    QStringList messages;

private:
    QByteArray m_home;
};

inline std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace telvora::test
