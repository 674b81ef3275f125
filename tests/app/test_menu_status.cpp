#include "app/menu_status.h"
#include "qt_event_wait.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

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

class MenuStatusTest : public ::testing::Test {
protected:
    QLabel panel1;
    QLabel panel2;
    TMenuStatus monitor{&panel1, &panel2, 20};
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

TEST(MenuStatusLifetime, StopsPromptlyAndPanelsMayGoFirst) {
    auto panel1 = std::make_unique<QLabel>();
    auto panel2 = std::make_unique<QLabel>();
    QElapsedTimer timer;
    timer.start();
    {
        TMenuStatus monitor(panel1.get(), panel2.get(), 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        monitor.Stop();
        EXPECT_TRUE(monitor.isFinished());
    }
    EXPECT_LT(timer.elapsed(), 900);
    TMenuStatus monitor(panel1.get(), panel2.get(), 10);
    panel1.reset();
    panel2.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QApplication::processEvents();
}

} // namespace
