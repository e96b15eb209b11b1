#include "app/pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "common/ui/qtext.h"

namespace tarvik {
namespace {

constexpr int kIconSize = 16;

QPixmap Blank(int width, int height) {
  QPixmap pixmap(width, height);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A plug on the left and a socket on the right; apart when not connected.
QIcon PlugIcon(bool connected) {
  QPixmap pixmap = Blank(kIconSize, kIconSize);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const int gap = connected ? 0 : 4;
  const QColor plug = connected ? QColor(0, 140, 0) : QColor(200, 30, 30);
  p.setPen(QPen(QColor(70, 70, 70), 2));
  p.drawLine(QPointF(0, 8), QPointF(3, 8));
  p.drawLine(QPointF(13 + gap / 2.0, 8), QPointF(16, 8));
  p.setPen(Qt::NoPen);
  p.setBrush(plug);
  p.drawRoundedRect(QRectF(3 - gap / 2.0, 4, 5, 8), 1.5, 1.5);
  p.setPen(QPen(plug.darker(130), 1.2));
  p.drawLine(QPointF(8 - gap / 2.0, 6), QPointF(10 - gap / 2.0, 6));
  p.drawLine(QPointF(8 - gap / 2.0, 10), QPointF(10 - gap / 2.0, 10));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(110, 110, 110));
  p.drawRoundedRect(QRectF(10 + gap / 2.0, 4, 4, 8), 1.5, 1.5);
  return QIcon(pixmap);
}

}  // namespace

QIcon ConnectIcon() { return PlugIcon(true); }
QIcon DisconnectIcon() { return PlugIcon(false); }

QIcon AboutIcon() {
  QPixmap pixmap = Blank(kIconSize, kIconSize);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 100, 200));
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  QFont font;
  font.setBold(true);
  font.setPixelSize(12);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 0, kIconSize, kIconSize), Qt::AlignCenter, QStringLiteral("?"));
  return QIcon(pixmap);
}

QIcon ClearIcon() {
  QPixmap pixmap = Blank(kIconSize, kIconSize);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(190, 40, 40), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(4, 4), QPointF(12, 12));
  p.drawLine(QPointF(12, 4), QPointF(4, 12));
  return QIcon(pixmap);
}

QPixmap DevicePicture(const QString& number) {
  QPixmap pixmap = Blank(48, 48);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(90, 90, 90), 1));
  p.setBrush(QColor(235, 235, 228));
  p.drawRoundedRect(QRectF(8.5, 4.5, 31, 39), 4, 4);
  p.setBrush(QColor(60, 160, 60));
  p.drawEllipse(QRectF(20, 10, 8, 8));
  p.setPen(QColor(50, 50, 50));
  QFont font;
  font.setPixelSize(10);
  p.setFont(font);
  p.drawText(QRect(8, 24, 32, 16), Qt::AlignCenter, number);
  return pixmap;
}

QPixmap AboutBanner(int width, int height) {
  QPixmap pixmap(width, height);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, height);
  sky.setColorAt(0, QColor(28, 70, 140));
  sky.setColorAt(1, QColor(90, 150, 215));
  p.fillRect(pixmap.rect(), sky);
  // Radio waves from an aerial at the left.
  const QPointF aerial(44, height * 0.58);
  p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(aerial, aerial + QPointF(0, 30));
  for (int i = 1; i <= 3; ++i) {
    const double r = 9.0 * i;
    p.setPen(QPen(QColor(255, 255, 255, 255 - 55 * i), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(aerial.x() - r, aerial.y() - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    p.drawArc(QRectF(aerial.x() - r, aerial.y() - r, 2 * r, 2 * r), 130 * 16, 100 * 16);
  }
  QFont font;
  font.setBold(true);
  font.setPixelSize(34);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(80, 0, width - 85, height), Qt::AlignVCenter | Qt::AlignLeft, Ru("Тарвик"));
  return pixmap;
}

}  // namespace tarvik
