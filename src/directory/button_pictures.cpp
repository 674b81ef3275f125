#include "directory/button_pictures.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace telvora {

namespace {

const QColor kOutline(40, 40, 40);
const QColor kPaper(250, 250, 240);
const QColor kGreen(30, 150, 40);
const QColor kBlue(30, 80, 190);
const QColor kRed(200, 30, 30);
const QColor kYellow(240, 200, 40);

void DrawCard(QPainter& p) {
    p.setPen(kOutline);
    p.setBrush(kPaper);
    p.drawRect(1, 2, 11, 12);
    p.setPen(QColor(150, 150, 150));
    for (int y = 5; y <= 11; y += 3) {
        p.drawLine(3, y, 10, y);
    }
}

void DrawSaveAsNew(QPainter& p) {
    DrawCard(p);
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawRect(11, 6, 3, 9);
    p.drawRect(8, 9, 9, 3);
}

void DrawUpdate(QPainter& p) {
    DrawCard(p);
    // A pencil lying across the card.
    QPainterPath pencil;
    pencil.moveTo(14, 3);
    pencil.lineTo(15.5, 4.5);
    pencil.lineTo(7, 13);
    pencil.lineTo(4.5, 13.5);
    pencil.lineTo(5, 11);
    pencil.closeSubpath();
    p.setPen(kOutline);
    p.setBrush(kYellow);
    p.drawPath(pencil);
}

void DrawDelete(QPainter& p) {
    QPen pen(kRed, 3, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(3, 3, 12, 12);
    p.drawLine(12, 3, 3, 12);
}

void DrawConnect(QPainter& p) {
    // A lightning bolt: the call going out.
    QPainterPath bolt;
    bolt.moveTo(9, 0.5);
    bolt.lineTo(3, 9);
    bolt.lineTo(7.5, 9);
    bolt.lineTo(5.5, 15.5);
    bolt.lineTo(13, 6);
    bolt.lineTo(8.5, 6);
    bolt.closeSubpath();
    p.setPen(kOutline);
    p.setBrush(kYellow);
    p.drawPath(bolt);
}

void DrawClose(QPainter& p) {
    // An open door.
    p.setPen(kOutline);
    p.setBrush(QColor(120, 120, 120));
    p.drawRect(3, 1, 10, 14);
    QPolygonF door;
    door << QPointF(3, 1) << QPointF(9, 3) << QPointF(9, 15.5) << QPointF(3, 15);
    p.setBrush(kBlue);
    p.drawPolygon(door);
    p.setPen(Qt::NoPen);
    p.setBrush(kYellow);
    p.drawEllipse(QPointF(7.5, 9), 1, 1);
}

QImage Draw(TButtonPicture which) {
    QImage image(kButtonPictureSize, kButtonPictureSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    switch (which) {
    case TButtonPicture::SaveAsNew:
        DrawSaveAsNew(p);
        break;
    case TButtonPicture::Update:
        DrawUpdate(p);
        break;
    case TButtonPicture::Delete:
        DrawDelete(p);
        break;
    case TButtonPicture::Connect:
        DrawConnect(p);
        break;
    case TButtonPicture::Close:
        DrawClose(p);
        break;
    }
    return image;
}

// The greyed form: each pixel's lightness, washed out towards white, same alpha.
QImage Greyed(const QImage& picture) {
    QImage grey = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int level = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(level, level, level, qAlpha(line[x]));
        }
    }
    return grey;
}

} // namespace

QIcon ButtonPicture(TButtonPicture which) {
    const QImage normal = Draw(which);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(Greyed(normal)), QIcon::Disabled);
    return icon;
}

} // namespace telvora
