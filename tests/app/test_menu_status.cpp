#include "app/menu_status.h"
#include "qt_event_wait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace telvora;

namespace {

// A connection that never runs; only its kind, speed and status text matter.
class FakeConnection : public TConnectionThread {
public:
    FakeConnection(Kind kind, int speed, QString status)
        : TConnectionThread(speed), m_kind(kind), m_status(std::move(status)) {}
    Kind ConnectionKind() const override { return m_kind; }
    QString StatusText() const override { return m_status; }

private:
    Kind m_kind;
    QString m_status;
};

bool WaitForText(QLabel& label, const QString& text) {
    return ProcessEventsUntil([&] { return label.text() == text; });
}

// The two panels show what the monitor shows, as the window's do.
void ShowIn(TMenuStatus& monitor, QLabel& panel1, QLabel& panel2) {
    QObject::connect(&monitor, &TMenuStatus::Shown, &panel1,
                     [&panel1, &panel2](const QString& text1, const QString& text2) {
                         panel1.setText(text1);
                         panel2.setText(text2);
                     });
}

class MenuStatusTest : public ::testing::Test {
protected:
    void SetUp() override { ShowIn(monitor, panel1, panel2); }
    QLabel panel1;
    QLabel panel2;
    TMenuStatus monitor{20};
};

TEST_F(MenuStatusTest, ReadyWithoutAConnection) {
    EXPECT_TRUE(WaitForText(panel1, "READY"));
    EXPECT_EQ(panel2.text(), "");
}

TEST_F(MenuStatusTest, TextsForEachKind) {
    FakeConnection movie(TConnectionThread::Kind::Movie, 999999999, "Playing: WELCOME.ATA");
    FakeConnection telnet(TConnectionThread::Kind::Telnet, 300, "Connected to bbs.example");
    FakeConnection serial(TConnectionThread::Kind::Serial, 300, "Connected to /dev/ttyUSB0");
    monitor.SetConnection(&movie);
    EXPECT_TRUE(WaitForText(panel1, "999999999 BPS"));
    EXPECT_TRUE(WaitForText(panel2, "Playing: WELCOME.ATA"));
    movie.SetSpeed(1200);
    EXPECT_TRUE(WaitForText(panel1, "1200 BPS"));
    monitor.SetConnection(&telnet);
    EXPECT_TRUE(WaitForText(panel1, "TELNET"));
    EXPECT_TRUE(WaitForText(panel2, "Connected to bbs.example"));
    monitor.SetConnection(&serial);
    EXPECT_TRUE(WaitForText(panel1, "SERIAL"));
    EXPECT_TRUE(WaitForText(panel2, "Connected to /dev/ttyUSB0"));
    monitor.SetConnection(nullptr);
    EXPECT_TRUE(WaitForText(panel1, "READY"));
    EXPECT_TRUE(WaitForText(panel2, ""));
}

TEST_F(MenuStatusTest, AnEndingConnectionOnlyClearsItself) {
    FakeConnection old(TConnectionThread::Kind::Telnet, 300, "");
    FakeConnection current(TConnectionThread::Kind::Serial, 300, "");
    monitor.SetConnection(&current);
    monitor.ClearConnection(&old);
    EXPECT_EQ(monitor.Connection(), &current);
    monitor.ClearConnection(&current);
    EXPECT_EQ(monitor.Connection(), nullptr);
}

TEST_F(MenuStatusTest, ADeletedConnectionReadsAsNone) {
    auto* gone = new FakeConnection(TConnectionThread::Kind::Movie, 300, "Playing: x");
    monitor.SetConnection(gone);
    delete gone;
    EXPECT_TRUE(WaitForText(panel1, "READY"));
}

// A connection whose status text cannot be made.
class FailingConnection : public TConnectionThread {
public:
    FailingConnection() : TConnectionThread(300) {}
    Kind ConnectionKind() const override { return Kind::Telnet; }
    QString StatusText() const override { throw std::runtime_error("no status"); }
};

TEST_F(MenuStatusTest, AFailingRoundIsRecordedAndTheNextOneStillComes) {
    FailingConnection failing;
    monitor.SetConnection(&failing);
    ASSERT_TRUE(ProcessEventsUntil([&] { return monitor.RoundError() == "no status"; }));
    monitor.SetConnection(nullptr);
    EXPECT_TRUE(WaitForText(panel1, "READY"));
    EXPECT_TRUE(ProcessEventsUntil([&] { return monitor.RoundError().isEmpty(); }));
}

TEST(MenuStatusLifetime, StopEndsTheRoundsAndTheTextsAreShownOnlyWhenTheyChange) {
    TMenuStatus monitor(10);
    int shown = 0;
    QObject::connect(&monitor, &TMenuStatus::Shown, [&shown] { ++shown; });
    // The first round shows "READY"; the rounds after it change nothing.
    ASSERT_TRUE(ProcessEventsUntil([&] { return shown == 1; }));
    QElapsedTimer timer;
    timer.start();
    ProcessEventsUntil([&] { return timer.elapsed() > 100; }, 200);
    EXPECT_EQ(shown, 1);
    FakeConnection telnet(TConnectionThread::Kind::Telnet, 300, "Connected to x");
    monitor.SetConnection(&telnet);
    ASSERT_TRUE(ProcessEventsUntil([&] { return shown == 2; }));
    EXPECT_EQ(monitor.Text1(), "TELNET");
    monitor.Stop();
    EXPECT_FALSE(monitor.Running());
    monitor.SetConnection(nullptr);
    timer.restart();
    ProcessEventsUntil([&] { return timer.elapsed() > 100; }, 200);
    EXPECT_EQ(shown, 2);
}

} // namespace
