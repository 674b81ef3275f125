#include "app/about_box.h"

#include "app/links.h"
#include "common/window_placement.h"
#include "screen/glyph_image.h"

#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <cmath>
#include <cstdint>
#include <optional>

namespace telvora {

namespace {

constexpr int kGlyphSize = 8;
constexpr std::uint8_t kInverseBit = 0x80;

constexpr int kFontPixels = 11;
constexpr QRect kLabel1Geometry(64, 68, 321, 13);

constexpr std::string_view kCredits = "By the Telvora developers - GNU GPL v3 or later";
constexpr int kCreditsTop = 33;

constexpr std::string_view kVersion = "Version " TELVORA_VERSION;
constexpr int kVersionScale = 2;
constexpr int kVersionTop = 44;

constexpr std::string_view kInvitation = "Click here to visit the Marrowby Home Page";
constexpr int kInvitationTop = 92;
// Inverse glyphs framed by a band of their ink, so the invitation looks like
// a button; the band starts well below the last inert row.
constexpr int kInvitationPad = 4;

constexpr QRgb kCreditsInk = 0xa8c8ff;
constexpr QRgb kVersionInk = 0xffffff;
constexpr QRgb kInvitationInk = 0x78e0a0;
constexpr QRgb kRuleInk = 0x3c64b4;
constexpr int kRuleRow = Tabout::kNameTop + kGlyphSize * Tabout::kNameScale + 2;

int TextWidth(std::string_view text, int scale) {
    return static_cast<int>(text.size()) * kGlyphSize * scale;
}

int CentredLeft(std::string_view text, int scale) {
    return (Tabout::kPictureWidth - TextWidth(text, scale)) / 2;
}

// Draws text in the ATASCII glyphs, each glyph pixel a scale x scale square in
// ink; paper pixels are left as they are unless a paper colour is given.
// Letters and digits have the same codes in ATASCII as in ASCII.
void DrawAtascii(QPainter& painter, QPoint topLeft, std::string_view text, int scale, QRgb ink,
                 std::optional<QRgb> paper = std::nullopt, std::uint8_t codeBits = 0) {
    const QRgb paperPixel = paper ? (*paper | 0xff000000u) : qRgba(0, 0, 0, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto code = static_cast<std::uint8_t>(static_cast<std::uint8_t>(text[i]) | codeBits);
        const int cellLeft = topLeft.x() + static_cast<int>(i) * kGlyphSize * scale;
        painter.drawImage(QRect(cellLeft, topLeft.y(), kGlyphSize * scale, kGlyphSize * scale),
                          GlyphImage(code, ink | 0xff000000u, paperPixel));
    }
}

void DrawInvitation(QPainter& painter) {
    const int left = CentredLeft(kInvitation, 1);
    const QRect band(left - kInvitationPad, kInvitationTop - kInvitationPad,
                     TextWidth(kInvitation, 1) + 2 * kInvitationPad,
                     kGlyphSize + 2 * kInvitationPad);
    painter.fillRect(band, QColor(kInvitationInk));
    DrawAtascii(painter, QPoint(left, kInvitationTop), kInvitation, 1, kInvitationInk,
                Tabout::kPaperRgb, kInverseBit);
}

} // namespace

Tabout::Tabout(QWidget* parent) : QDialog(parent), m_picture(DrawPicture()) {
    setObjectName(QStringLiteral("about"));
    setWindowTitle(QStringLiteral("About Telvora"));
    // A tool window with nothing but its close box.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(kFontPixels);
    setFont(font);
    BuildImage1();
    BuildLabel1();
    setFixedSize(kPictureWidth, kPictureHeight);
}

QImage Tabout::DrawPicture() {
    QImage picture(kPictureWidth, kPictureHeight, QImage::Format_RGB888);
    picture.fill(QColor(kPaperRgb));
    QPainter painter(&picture);
    DrawAtascii(painter, QPoint(kNameLeft, kNameTop), kProgramName, kNameScale, kNameInkRgb);
    painter.fillRect(kNameLeft, kRuleRow, TextWidth(kProgramName, kNameScale), 1, QColor(kRuleInk));
    DrawAtascii(painter, QPoint(CentredLeft(kCredits, 1), kCreditsTop), kCredits, 1, kCreditsInk);
    DrawAtascii(painter, QPoint(CentredLeft(kVersion, kVersionScale), kVersionTop), kVersion,
                kVersionScale, kVersionInk);
    DrawInvitation(painter);
    return picture;
}

void Tabout::BuildImage1() {
    m_image1 = new QLabel(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setGeometry(0, 0, kPictureWidth, kPictureHeight);
    m_image1->setPixmap(QPixmap::fromImage(m_picture));
    m_image1->installEventFilter(this);
}

void Tabout::BuildLabel1() {
    m_label1 = new QLabel(QStringLiteral("(Service Release #1)"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(kLabel1Geometry);
    m_label1->setAlignment(Qt::AlignCenter);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(kFontPixels);
    m_label1->setFont(font);
    // Drawn over the picture: no background of its own, light text on the
    // picture's paper, and clicks go through to the picture below.
    m_label1->setAutoFillBackground(false);
    m_label1->setAttribute(Qt::WA_TranslucentBackground);
    m_label1->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = m_label1->palette();
    palette.setColor(QPalette::WindowText, QColor(kCreditsInk));
    m_label1->setPalette(palette);
    m_label1->raise();
}

void Tabout::Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) {
    (void)button;
    (void)shift;
    (void)x;
    if (y > kLastInertRow) {
        OpenURL(parentWidget() != nullptr ? parentWidget() : this, HomePageAddress());
    }
}

bool Tabout::eventFilter(QObject* watched, QEvent* event) {
    // Only the press: a double click would otherwise open the page twice.
    if (watched == m_image1 && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPointF at = mouse->position();
        Image1MouseDown(mouse->button(), mouse->modifiers(), static_cast<int>(std::floor(at.x())),
                        static_cast<int>(std::floor(at.y())));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Tabout::showEvent(QShowEvent* event) {
    telvora::CentreOnScreen(*this);
    QDialog::showEvent(event);
}

} // namespace telvora
