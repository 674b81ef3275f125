#include "app/about_box.h"
#include "app/links.h"
#include "screen/glyph_table.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

using namespace telvora;

namespace {

// Records what OpenURL would have handed to the browser.
class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUrlOpener([this](const QUrl& url) { m_opened.push_back(url); });
    }
    void TearDown() override { SetUrlOpener({}); }

    void Press(QWidget* target, QPointF at, Qt::MouseButton button = Qt::LeftButton,
               Qt::KeyboardModifiers shift = Qt::NoModifier) {
        QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), button, button,
                          shift);
        QApplication::sendEvent(target, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), button,
                            Qt::NoButton, shift);
        QApplication::sendEvent(target, &release);
    }

    std::vector<QUrl> m_opened;
};

bool IsInk(const QImage& picture, int x, int y) {
    return picture.pixel(x, y) != QColor(Tabout::kPaperRgb).rgb();
}

} // namespace

TEST_F(AboutBoxTest, ClickOpensHomePageOnlyBelowRow82) {
    Tabout about;
    QLabel* image = about.Image1();
    ASSERT_NE(image, nullptr);
    const QUrl home(HomePageAddress());

    // The name, the version and the label's row: nothing happens.
    for (const int y : {0, 10, 68, 82}) {
        Press(image, QPointF(225, y));
    }
    Press(image, QPointF(440, 82.9), Qt::RightButton);
    EXPECT_TRUE(m_opened.empty());

    // The invitation strip, with any button and shift state, anywhere across.
    Press(image, QPointF(225, 83));
    Press(image, QPointF(0, 109), Qt::RightButton, Qt::ShiftModifier);
    Press(image, QPointF(449, 95), Qt::MiddleButton, Qt::ControlModifier);
    ASSERT_EQ(m_opened.size(), 3u);
    for (const QUrl& url : m_opened) {
        EXPECT_EQ(url, home);
    }

    // Direct calls follow the same rule.
    m_opened.clear();
    about.Image1MouseDown(Qt::LeftButton, Qt::NoModifier, 10, 82);
    EXPECT_TRUE(m_opened.empty());
    about.Image1MouseDown(Qt::LeftButton, Qt::NoModifier, 10, 83);
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened.front(), home);
}

TEST(AboutBox, WindowAndLabel) {
    Tabout about;
    EXPECT_EQ(about.objectName(), QStringLiteral("about"));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Telvora"));
    EXPECT_EQ(about.size(), QSize(450, 110));
    EXPECT_EQ(about.minimumSize(), QSize(450, 110));
    EXPECT_EQ(about.maximumSize(), QSize(450, 110));
    const Qt::WindowFlags flags = about.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));

    QLabel* image = about.Image1();
    EXPECT_EQ(image->objectName(), QStringLiteral("Image1"));
    EXPECT_EQ(image->geometry(), QRect(0, 0, 450, 110));
    EXPECT_EQ(image->pixmap().size(), QSize(450, 110));

    QLabel* label = about.Label1();
    EXPECT_EQ(label->objectName(), QStringLiteral("Label1"));
    EXPECT_EQ(label->text(), QStringLiteral("(Service Release #1)"));
    EXPECT_EQ(label->geometry(), QRect(64, 68, 321, 13));
    EXPECT_TRUE(label->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_FALSE(label->autoFillBackground());
    EXPECT_EQ(label->font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(label->font().pixelSize(), 11);
    // Drawn over the picture, not hidden beneath it.
    const QObjectList& children = about.children();
    EXPECT_GT(children.indexOf(label), children.indexOf(image));
}

TEST(AboutBox, CentredOnTheScreenWhenShown) {
    Tabout about;
    about.show();
    QApplication::processEvents();
    const QRect screen = about.screen()->geometry();
    const QPoint centre = about.frameGeometry().center();
    EXPECT_LE(std::abs(centre.x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(centre.y() - screen.center().y()), 1);
    about.close();
    EXPECT_FALSE(about.isVisible());
}

TEST(AboutBox, PictureShowsNameInGlyphsAndInvitationBelowRow82) {
    const QImage picture = Tabout::DrawPicture();
    EXPECT_EQ(picture.size(), QSize(450, 110));
    EXPECT_EQ(picture.depth(), 24);

    // Every glyph pixel of "Telvora", sampled at the centre of its square.
    const int scale = Tabout::kNameScale;
    const QRgb nameInk = QColor(Tabout::kNameInkRgb).rgb();
    int inkSeen = 0;
    for (std::size_t i = 0; i < Tabout::kProgramName.size(); ++i) {
        const GlyphRows glyph = AtasciiGlyph(static_cast<std::uint8_t>(Tabout::kProgramName[i]));
        for (int row = 0; row < 8; ++row) {
            for (int column = 0; column < 8; ++column) {
                const int x =
                    Tabout::kNameLeft + (static_cast<int>(i) * 8 + column) * scale + scale / 2;
                const int y = Tabout::kNameTop + row * scale + scale / 2;
                const bool set = (glyph[row] & (0x80 >> column)) != 0;
                ASSERT_LT(y, Tabout::kLastInertRow);
                EXPECT_EQ(picture.pixel(x, y) == nameInk, set)
                    << "letter " << i << " row " << row << " column " << column;
                inkSeen += set ? 1 : 0;
            }
        }
    }
    EXPECT_GT(inkSeen, 50);

    // Something is drawn across the bottom strip, and the strip is wide
    // enough to be a line of text.
    int left = 450;
    int right = -1;
    for (int y = Tabout::kLastInertRow + 1; y < 110; ++y) {
        for (int x = 0; x < 450; ++x) {
            if (IsInk(picture, x, y)) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    EXPECT_GT(right - left, 200);
    // ...and it is text, not a plain bar: some row changes colour often.
    int mostChanges = 0;
    for (int y = Tabout::kLastInertRow + 1; y < 110; ++y) {
        int changes = 0;
        for (int x = 1; x < 450; ++x) {
            changes += picture.pixel(x, y) != picture.pixel(x - 1, y) ? 1 : 0;
        }
        mostChanges = std::max(mostChanges, changes);
    }
    EXPECT_GT(mostChanges, 40);

    // Credits and version lie between the name and the label; the label's
    // own rows and the gap above the strip are left plain so it stays legible.
    auto inkRows = [&](int top, int bottom) {
        int rows = 0;
        for (int y = top; y <= bottom; ++y) {
            for (int x = 0; x < 450; ++x) {
                if (IsInk(picture, x, y)) {
                    ++rows;
                    break;
                }
            }
        }
        return rows;
    };
    EXPECT_GT(inkRows(30, 64), 10);
    EXPECT_EQ(inkRows(68, 82), 0);
}

TEST(Links, ThreeEntriesWithRealWebAddresses) {
    const auto& entries = LinkEntries();
    const std::vector<std::string> names = {"MarrowbyHomePage1", "MovieSiteLink1",
                                            "CommunitySiteLink1"};
    std::set<QString> hosts;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const LinkEntry& entry = entries[i];
        EXPECT_EQ(std::string(entry.name), names[i]);
        EXPECT_FALSE(entry.caption.isEmpty());
        const QUrl url(entry.address, QUrl::StrictMode);
        EXPECT_TRUE(url.isValid()) << entry.address.toStdString();
        EXPECT_TRUE(url.scheme() == QStringLiteral("https") ||
                    url.scheme() == QStringLiteral("http"))
            << entry.address.toStdString();
        EXPECT_TRUE(url.host().contains(QLatin1Char('.'))) << entry.address.toStdString();
        EXPECT_TRUE(url.userInfo().isEmpty());
        EXPECT_TRUE(url.query().isEmpty());
        hosts.insert(url.host());
        EXPECT_EQ(FindLinkEntry(entry.name), &entry);
    }
    EXPECT_EQ(hosts.size(), 3u);
    EXPECT_EQ(entries[0].caption, QStringLiteral("Marrowby Home Page"));
    EXPECT_EQ(HomePageAddress(), entries[0].address);
    EXPECT_EQ(FindLinkEntry("About1"), nullptr);
    EXPECT_EQ(FindLinkEntry(nullptr), nullptr);
}

TEST(Links, OpenURLHandsTheAddressToTheOpenerAndRestores) {
    std::vector<QUrl> opened;
    SetUrlOpener([&](const QUrl& url) { opened.push_back(url); });
    for (const LinkEntry& entry : LinkEntries()) {
        OpenURL(nullptr, entry.address);
    }
    SetUrlOpener({});
    ASSERT_EQ(opened.size(), 3u);
    for (std::size_t i = 0; i < opened.size(); ++i) {
        EXPECT_EQ(opened[i], QUrl(LinkEntries()[i].address));
    }
}
