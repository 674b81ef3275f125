#pragma once

#include <QDialog>
#include <QImage>

#include <string_view>

class QLabel;

namespace telvora {

// The about box: a picture drawn at run time with the program's name in the
// ATASCII glyphs, credits, the version and an invitation to the home page.
// A click on the invitation strip at the bottom opens the home page.
class Tabout : public QDialog {
    Q_OBJECT

public:
    explicit Tabout(QWidget* parent = nullptr);

    QLabel* Image1() const { return m_image1; }
    QLabel* Label1() const { return m_label1; }
    // The picture as drawn, 450 x 110 pixels at 24 bits per pixel.
    const QImage& Picture() const { return m_picture; }

    // Any button, any shift state; x and y in picture pixels.
    void Image1MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

    static constexpr int kPictureWidth = 450;
    static constexpr int kPictureHeight = 110;
    // Rows 0..82 hold the name, credits and version; only clicks below open
    // the home page, so the invitation line is drawn below this row.
    static constexpr int kLastInertRow = 82;

    static constexpr std::string_view kProgramName = "Telvora";
    // The name's glyph pixels are drawn as squares of this size.
    static constexpr int kNameScale = 3;
    static constexpr int kNameTop = 4;
    static constexpr int kNameLeft =
        (kPictureWidth - static_cast<int>(kProgramName.size()) * 8 * kNameScale) / 2;

    // Colours of the picture, as 0xRRGGBB.
    static constexpr unsigned kPaperRgb = 0x18387a;
    static constexpr unsigned kNameInkRgb = 0xffd870;

    // Draws the picture; it depends on nothing but the glyph table.
    static QImage DrawPicture();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildImage1();
    void BuildLabel1();

    QImage m_picture;
    QLabel* m_image1 = nullptr;
    QLabel* m_label1 = nullptr;
};

} // namespace telvora
