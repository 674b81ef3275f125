// The transfer window as a user meets it: its looks, Escape that first
// cancels and then closes, received bytes going back to the screen, a line
// that goes away, and the folder chooser.

#include "session_test_support.h"

#include "common/qt_text.h"
#include "transfer/choose_dir.h"
#include "transfer/transfer_window.h"

#include "loopback_peer.h"
#include "wire_block.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>

using namespace telvora;
using namespace telvora::test;

namespace {

// Steps run one after the other while the transfer window's own loop runs:
// each waits for its condition, then acts. Past the deadline the window is
// closed, so a test never hangs.
class Script {
public:
    using Step = std::pair<std::function<bool()>, std::function<void()>>;
    Script(TTransferWindow& window, std::deque<Step> steps, int deadlineMs = 15000)
        : m_window(window), m_steps(std::move(steps)) {
        m_timer.start();
        QObject::connect(&m_tick, &QTimer::timeout, [this, deadlineMs] {
            if (m_timer.elapsed() > deadlineMs) {
                m_timedOut = true;
                m_window.done(QDialog::Rejected);
                return;
            }
            while (!m_steps.empty() && m_steps.front().first()) {
                m_steps.front().second();
                m_steps.pop_front();
            }
        });
        m_tick.start(10);
    }
    bool Finished() const { return m_steps.empty() && !m_timedOut; }

private:
    TTransferWindow& m_window;
    std::deque<Step> m_steps;
    QTimer m_tick;
    QElapsedTimer m_timer;
    bool m_timedOut = false;
};

void PressEscape(QWidget& window) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &event);
}

class TransferWindow : public SessionTest {
protected:
    void Connect() {
        window.Entry("ExtraFiltering")->trigger(); // the test peer doubles nothing
        ASSERT_TRUE(window.Session().ConnectTelnet("127.0.0.1", peer.PortText()));
        ASSERT_TRUE(OnPeer([&] { return peer.Accept(); }));
        ASSERT_TRUE(ProcessEventsUntil([&] { return window.Session().LineUp(); }));
    }
    // Reads from the peer on a thread of its own; true once `wanted` came.
    std::future<bool> PeerReceives(std::vector<std::uint8_t> wanted) {
        return std::async(std::launch::async, [this, wanted] {
            std::vector<std::uint8_t> got;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (std::chrono::steady_clock::now() < deadline) {
                const auto more = peer.Read(1, 100);
                got.insert(got.end(), more.begin(), more.end());
                if (std::search(got.begin(), got.end(), wanted.begin(), wanted.end()) !=
                    got.end()) {
                    return true;
                }
            }
            return false;
        });
    }
    static bool Ready(std::future<bool>& result) {
        return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }
    // The other side after our cancel: the rest of what it was sending, its
    // own cancel, then its text, which alone reaches the screen.
    void AnswerTheCancel() {
        peer.SendText("\x01\x01\xFE in flight " + std::string(5, kCan) + "\b\b\b\b\b" +
                      "BACK ON SCREEN");
    }
    // Runs `start`, which shows `shown`, through `steps`; once `ready`, Escape
    // cancels: our cancel goes out, the other side answers it, its text
    // reaches the screen, and a second Escape closes the window.
    void CancelWithEscape(TTransferWindow& shown, std::deque<Script::Step> steps,
                          std::function<bool()> ready, std::function<void()> check,
                          const std::function<bool()>& start) {
        std::future<bool> cancelled;
        steps.push_back({std::move(ready), [&, check] {
                             cancelled = PeerReceives({kCan, kCan, kCan});
                             PressEscape(shown);
                             EXPECT_EQ(shown.lStatus->text(), "Transfer Aborted.");
                             EXPECT_EQ(shown.BitBtn1->text(), "Close");
                             check();
                         }});
        steps.push_back({[&] { return Ready(cancelled); },
                         [&] {
                             EXPECT_TRUE(cancelled.get());
                             AnswerTheCancel();
                         }});
        steps.push_back(
            {[&] { return RowStartsWith(1, "BACK ON SCREEN"); }, [&] { PressEscape(shown); }});
        Script script(shown, std::move(steps));
        ASSERT_TRUE(start());
        EXPECT_TRUE(script.Finished());
        EXPECT_FALSE(shown.isVisible());
        EXPECT_FALSE(window.Session().InTransfer());
    }
    void ExpectOneMessage(const char* start) {
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages.first().startsWith(QLatin1String(start)))
            << messages.first().toStdString();
    }
    TTransferWindow& Protocol() { return *window.Transfers().Protocol(); }

    LoopbackPeer peer;
    QTemporaryDir folder;
};

TEST_F(TransferWindow, LooksAsDesigned) {
    TTransferWindow& protocol = Protocol();
    EXPECT_EQ(protocol.windowTitle(), "Download Files");
    EXPECT_EQ(protocol.size(), QSize(448, 135));
    EXPECT_FALSE(protocol.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    for (const auto& [name, text] :
         std::vector<std::pair<const char*, const char*>>{{"Label1", "Filename     :"},
                                                          {"Label3", "Bytes RX     :"},
                                                          {"Label4", "Blocks RX    :"},
                                                          {"Label5", "RX Errors    :"},
                                                          {"Label7", "Time Left    :"},
                                                          {"Label8", "Progress     :"},
                                                          {"Label6", "Status       :"}}) {
        auto* label = protocol.findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), text);
    }
    EXPECT_EQ(protocol.BitBtn1->geometry(), QRect(368, 72, 75, 25));
    // The background is light, so black text stays readable on it.
    const QImage picture = protocol.grab().toImage();
    EXPECT_GT(qGray(picture.pixel(300, 50)), 160);
}

TEST_F(TransferWindow, EscapeCancelsThenClosesAndTheBytesGoBackToTheScreen) {
    Connect();
    auto asked = PeerReceives({'C'});
    CancelWithEscape(
        Protocol(), {}, [&] { return Ready(asked); },
        [&] {
            EXPECT_TRUE(asked.get());
            EXPECT_TRUE(Protocol().isVisible()) << "the first Escape only cancels";
        },
        [&] {
            return window.Transfers().ReceiveFile(ToUtf8(folder.filePath(QStringLiteral("x.bin"))));
        });
}

// What a Telnet server makes of binary data: 255 doubled, a NUL after each CR.
std::vector<std::uint8_t> TelnetEscaped(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> escaped;
    for (std::uint8_t byte : bytes) {
        escaped.push_back(byte);
        if (byte == 255) {
            escaped.push_back(255);
        } else if (byte == 13) {
            escaped.push_back(0);
        }
    }
    return escaped;
}

TEST_F(TransferWindow, AnFModemBatchFromATelnetServerArrivesWholeWithTheFilterOn) {
    window.Entry("ExtraFiltering")->trigger(); // Connect turns it off; it stays on here
    Connect();
    std::vector<std::uint8_t> content(4096 + 300);
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<std::uint8_t>(i % 7 == 0 ? 13 : i % 5 == 0 ? 255 : i * 31);
    }
    content.back() = 0x1A; // kept: the header gives the length
    auto sender = std::async(std::launch::async, [&] {
        auto expect = [&](std::uint8_t wanted) {
            for (int i = 0; i < 40; ++i) {
                const auto got = peer.Read(1, 100);
                if (!got.empty() && got[0] == wanted) {
                    return true;
                }
            }
            return false;
        };
        std::vector<std::uint8_t> header{'F', 'B', 'L', 'O', 'C', 'K', '.', 'B', 'I', 'N', 0};
        for (char c : std::to_string(content.size()) + " 0") {
            header.push_back(static_cast<std::uint8_t>(c));
        }
        header.resize(128, 0);
        // What we send, then the answers the receiver must give to it.
        using Bytes = std::vector<std::uint8_t>;
        const std::vector<std::pair<Bytes, Bytes>> exchange{
            {{}, {'C'}},
            {Block(kSoh, 0, header), {0x06, 'C'}},
            {Block(TBlockCodes::kHeader4k, 1, {content.begin(), content.begin() + 4096}), {0x06}},
            {Block(kStx, 2, {content.begin() + 4096, content.end()}), {0x06}},
            {{0x04}, {0x06, 'C'}},
            {Block(kSoh, 0, Bytes(128, 0)), {0x06}}};
        for (const auto& [bytes, answers] : exchange) {
            if (!bytes.empty()) {
                peer.SendAll(TelnetEscaped(bytes));
            }
            for (std::uint8_t answer : answers) {
                if (!expect(answer)) {
                    return false;
                }
            }
        }
        return true;
    });
    Script script(
        Protocol(),
        {{[&] { return Ready(sender) && Protocol().lStatus->text() == "Transfer Complete!"; },
          [&] {
              EXPECT_TRUE(sender.get());
              EXPECT_EQ(Protocol().lStatus->text(), "Transfer Complete!");
              Protocol().BitBtn1->click();
          }}},
        20000);
    ASSERT_TRUE(window.Transfers().ReceiveBatch(ToUtf8(folder.path())));
    EXPECT_TRUE(script.Finished());
    QFile received(folder.filePath(QStringLiteral("FBLOCK.BIN")));
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    const QByteArray bytes = received.readAll();
    EXPECT_TRUE(bytes == QByteArray(reinterpret_cast<const char*>(content.data()),
                                    static_cast<qsizetype>(content.size())));
}

TEST_F(TransferWindow, ALineThatGoesAwaySaysSoAndTheButtonCloses) {
    Connect();
    auto asked = PeerReceives({'C'});
    Script script(Protocol(), {
                                  {[&] { return Ready(asked); }, [&] { peer.CloseConnection(); }},
                                  {[&] { return Protocol().lStatus->text() == "Connection lost."; },
                                   [&] {
                                       EXPECT_EQ(Protocol().BitBtn1->text(), "Close");
                                       Protocol().BitBtn1->click();
                                   }},
                              });
    window.Transfers().ReceiveFile(ToUtf8(folder.filePath(QStringLiteral("y.bin"))));
    EXPECT_TRUE(script.Finished());
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(window.Session().TelnetConn(), nullptr);
}

TEST_F(TransferWindow, AFileThatCannotBeCreatedIsReportedAndNothingStarts) {
    Connect();
    EXPECT_FALSE(window.Transfers().ReceiveFile("/nonexistent-telvora/z.bin"));
    ExpectOneMessage("Cannot create /nonexistent-telvora/z.bin");
    EXPECT_FALSE(window.Session().InTransfer());
    EXPECT_FALSE(Protocol().isVisible());
}

TEST_F(TransferWindow, ACancelledFolderChooserStartsNothing) {
    Connect();
    QTimer::singleShot(50, window.Transfers().ChooseDir(),
                       [this] { window.Transfers().ChooseDir()->BitBtn1->click(); });
    window.Entry("YModemBatch1")->trigger();
    EXPECT_FALSE(window.Session().InTransfer());
    EXPECT_FALSE(Protocol().isVisible());
}

TEST_F(TransferWindow, AnUploadGoesOutBlockByBlockAndEscapeCancelsIt) {
    EXPECT_FALSE(window.UploadMenu()->isEnabled());
    Connect();
    EXPECT_TRUE(window.UploadMenu()->isEnabled()) << "enabled exactly when Download is";
    TTransferWindow& upload = *window.Transfers().Upload();
    EXPECT_EQ(upload.windowTitle(), "Upload Files");
    EXPECT_EQ(upload.findChild<QLabel*>(QStringLiteral("Label3"))->text(), "Bytes TX     :");
    QFile file(folder.filePath(QStringLiteral("up.bin")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300, 'u'));
    file.close();

    std::future<bool> firstBlock;
    CancelWithEscape(
        upload,
        {{[&] { return upload.isVisible(); },
          [&] {
              firstBlock = PeerReceives(Block(kSoh, 1, std::vector<std::uint8_t>(128, 'u')));
              peer.SendText("C");
          }}},
        [&] { return Ready(firstBlock); },
        [&] {
            EXPECT_TRUE(firstBlock.get());
            EXPECT_EQ(upload.lBytes->text(), "0 of 300");
        },
        [&] {
            return window.Transfers().SendFiles(TSendProtocol::XModemCrc,
                                                {ToUtf8(file.fileName())});
        });

    EXPECT_FALSE(window.Transfers().SendFiles(
        TSendProtocol::YModem, {ToUtf8(file.fileName()), "/nonexistent-telvora/gone.bin"}));
    ExpectOneMessage("Cannot read /nonexistent-telvora/gone.bin");
    EXPECT_FALSE(window.Session().InTransfer());
}

// The sender ends (or the line goes) while the existing-file question is
// open: nobody waits for the answer, so the question is taken down unanswered.
TEST(TransferWindowView, AQuestionNobodyWaitsForIsTakenDownWhenTheTransferEnds) {
    TTransferWindow view(nullptr, TTransferWindow::CaptionsFor(TTransferKind::ReceiveZmodem));
    view.Begin();
    TTransferProgress ended;
    ended.ended = true;
    ended.status = "Cancelled by the other side";
    QTimer::singleShot(50, &view, [&] {
        ASSERT_NE(view.Question(), nullptr);
        view.Show(ended);
    });
    EXPECT_EQ(view.AskExisting(QStringLiteral("report.txt")), std::nullopt);
    EXPECT_EQ(view.Question(), nullptr);
    EXPECT_EQ(view.lStatus->text(), "Cancelled by the other side");
    EXPECT_EQ(view.BitBtn1->text(), "Close");
    EXPECT_EQ(view.AskExisting(QStringLiteral("report.txt")), std::nullopt)
        << "no question after the end";
}

// A name shows as it is, underscores (below the baseline) and markup
// included; with a size, the bar shows the share and the time left, and the
// rate starts afresh after a question.
TEST(TransferWindowView, NamesShowWholeAndAKnownSizeShowsTheShareAndTheTimeLeft) {
    TTransferWindow view(nullptr, TTransferWindow::CaptionsFor(TTransferKind::ReceiveZmodem));
    view.Begin();
    const auto pixels = [&](const std::string& name) {
        TTransferProgress progress;
        progress.fileName = name;
        view.Show(progress);
        ProcessEventsFor(60);
        return view.lFilename->grab().toImage();
    };
    EXPECT_NE(pixels("a_b"), pixels("a b")) << "the underscore is cut off";
    EXPECT_EQ(view.lFilename->textFormat(), Qt::PlainText);

    TTransferProgress progress;
    progress.fileName = "big.bin";
    progress.totalBytes = 400000;
    view.Show(progress);
    QTimer::singleShot(50, &view, [&] { view.Question()->reject(); });
    view.AskExisting(QStringLiteral("big.bin"));
    const auto shown = [&](std::int64_t bytes) {
        progress.bytes = bytes;
        view.Show(progress);
        ProcessEventsFor(60);
        return view.lBlocks->text().section(QLatin1Char(' '), 0, 0).toInt();
    };
    EXPECT_EQ(shown(100000), 0) << "a resumed file's first count measured as carried";
    EXPECT_GT(shown(200000), 0);
    EXPECT_EQ(view.pProgress->text(), "50%");
    EXPECT_TRUE(view.lTimeLeft->text().startsWith(QStringLiteral("0:")))
        << view.lTimeLeft->text().toStdString();
    progress.totalBytes = -1; // X-Modem: no size
    view.Show(progress);
    ProcessEventsFor(60);
    EXPECT_FALSE(view.pProgress->isTextVisible());
    EXPECT_TRUE(view.lTimeLeft->text().isEmpty());
}

TEST(ChooseDirTest, OpensFoldersGoesUpAndPicksDrives) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("games/new")));
    TChooseDir chooser;
    EXPECT_EQ(chooser.windowTitle(), "Choose Directory");
    EXPECT_EQ(chooser.size(), QSize(280, 293));
    chooser.SetFolder(root.path());
    EXPECT_EQ(chooser.SelectedFolder(), QDir(root.path()).absolutePath());
    auto open = [&](const QString& name) {
        const auto found = chooser.DirectoryListBox1->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        Q_EMIT chooser.DirectoryListBox1->itemActivated(found.first());
    };
    open(QStringLiteral("games"));
    open(QStringLiteral("new"));
    EXPECT_EQ(chooser.SelectedFolder(), QDir(root.path()).absoluteFilePath("games/new"));
    open(QStringLiteral(".."));
    EXPECT_EQ(chooser.SelectedFolder(), QDir(root.path()).absoluteFilePath("games"));
    EXPECT_GT(chooser.DriveComboBox1->count(), 0);
    EXPECT_EQ(chooser.Label1->toolTip(), chooser.SelectedFolder());
    chooser.SetFolder(QStringLiteral("/"));
    EXPECT_EQ(chooser.SelectedFolder(), "/");
    EXPECT_TRUE(chooser.DirectoryListBox1->findItems("..", Qt::MatchExactly).isEmpty());
}

// The chooser is made once and opened many times: each opening shows the
// folders as they are then, and a folder removed meanwhile its parent.
TEST(ChooseDirTest, EachOpeningReadsTheFoldersAfresh) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("old/inner")));
    TChooseDir chooser;
    chooser.SetFolder(root.path());
    chooser.show();
    chooser.hide();
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("made-later")));
    chooser.show();
    EXPECT_EQ(chooser.DirectoryListBox1->findItems("made-later", Qt::MatchExactly).size(), 1);
    chooser.hide();
    chooser.SetFolder(QDir(root.path()).filePath(QStringLiteral("old/inner")));
    ASSERT_TRUE(QDir(QDir(root.path()).filePath(QStringLiteral("old"))).removeRecursively());
    chooser.show();
    EXPECT_EQ(chooser.SelectedFolder(), QDir(root.path()).absolutePath());
    chooser.hide();
}

} // namespace
