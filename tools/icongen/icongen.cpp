// Draws the program's icon, so the package carries a picture of our own at
// every size the icon theme asks for.
//   tarvik-icongen SIZE FILE.png [SIZE FILE.png ...]
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace {

// Drawn on a 256-unit square and scaled: a blue tile, a detector sending
// radio waves, and the lightning bolt of a firmware being written.
QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);

  QLinearGradient tile(0, 8, 0, 248);
  tile.setColorAt(0, QColor(0x2f, 0x6d, 0xb5));
  tile.setColorAt(1, QColor(0x17, 0x3c, 0x6e));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

  // The detector: a white box with a dark window.
  p.setBrush(QColor(0xf4, 0xf6, 0xf8));
  p.drawRoundedRect(QRectF(40, 120, 104, 100), 14, 14);
  p.setBrush(QColor(0x17, 0x3c, 0x6e));
  p.drawRoundedRect(QRectF(60, 140, 64, 28), 6, 6);
  p.setBrush(QColor(0x4c, 0xd9, 0x64));
  p.drawEllipse(QPointF(72, 196), 8, 8);

  // Radio waves from the detector's top corner.
  QPen wave(QColor(0xf4, 0xf6, 0xf8), 14, Qt::SolidLine, Qt::RoundCap);
  p.setPen(wave);
  p.setBrush(Qt::NoBrush);
  for (int r : {30, 58, 86}) p.drawArc(QRectF(92 - r, 112 - r, 2 * r, 2 * r), 20 * 16, 70 * 16);

  // The bolt.
  const QPolygonF bolt({QPointF(190, 92), QPointF(152, 172), QPointF(180, 172), QPointF(166, 232),
                        QPointF(218, 144), QPointF(188, 144), QPointF(206, 92)});
  p.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor(0xff, 0xc4, 0x1f));
  p.drawPolygon(bolt);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: %s SIZE FILE.png [SIZE FILE.png ...]\n", argv[0]);
    return 2;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    const int size = std::atoi(argv[i]);
    if (size < 16 || size > 1024) {
      std::fprintf(stderr, "%s: size %s is outside 16..1024\n", argv[0], argv[i]);
      return 2;
    }
    if (!DrawIcon(size).save(QString::fromLocal8Bit(argv[i + 1]), "PNG")) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[i + 1]);
      return 1;
    }
  }
  return 0;
}
