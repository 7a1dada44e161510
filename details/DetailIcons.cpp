#include "details/DetailIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <map>

namespace vestrel {

namespace {

constexpr int kSize = 40;  // drawn at twice the shown size, so it stays sharp on dense screens

const QColor kBlue(0x2a, 0x6f, 0xc9);
const QColor kGreen(0x2e, 0x9b, 0x48);
const QColor kOrange(0xe0, 0x8a, 0x1e);
const QColor kRed(0xcc, 0x2e, 0x2e);
const QColor kGrey(0x6b, 0x73, 0x80);

QPen Stroke(const QColor& color, double width = 3.5) { return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

// A partition: a box with a title band.
void Box(QPainter& p, const QRectF& r, const QColor& color) {
  p.setPen(Stroke(color.darker(130), 2.5));
  p.setBrush(color.lighter(170));
  p.drawRoundedRect(r, 3, 3);
  p.setBrush(color);
  p.drawRect(QRectF(r.left(), r.top(), r.width(), r.height() * 0.28));
}

// A replica: a database disk.
void Disk(QPainter& p, const QRectF& r, const QColor& color) {
  p.setPen(Stroke(color.darker(140), 2));
  p.setBrush(color.lighter(150));
  const double cap = r.height() * 0.3;
  QPainterPath body;
  body.moveTo(r.left(), r.top() + cap / 2);
  body.lineTo(r.left(), r.bottom() - cap / 2);
  body.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
  body.lineTo(r.right(), r.top() + cap / 2);
  p.drawPath(body);
  p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& color, double width = 4) {
  p.setPen(Stroke(color, width));
  p.drawLine(from, to);
  QLineF line(to, from);
  QLineF a = line;
  a.setLength(9);
  a.setAngle(line.angle() + 35);
  QLineF b = line;
  b.setLength(9);
  b.setAngle(line.angle() - 35);
  p.drawLine(a);
  p.drawLine(b);
}

// Two half circles chasing each other: a synchronisation.
void Cycle(QPainter& p, const QRectF& r, const QColor& color) {
  p.setPen(Stroke(color, 4));
  p.setBrush(Qt::NoBrush);
  p.drawArc(r, 30 * 16, 150 * 16);
  p.drawArc(r, 210 * 16, 150 * 16);
  auto head = [&](double angleDeg, double turn) {
    QLineF radius(r.center(), r.center() + QPointF(r.width() / 2, 0));
    radius.setAngle(angleDeg);
    QLineF tangent(radius.p2(), radius.p2() + QPointF(1, 0));
    tangent.setAngle(angleDeg + turn);
    QLineF a = tangent, b = tangent;
    a.setLength(8);
    b.setLength(8);
    a.setAngle(tangent.angle() + 150);
    b.setAngle(tangent.angle() - 150);
    p.drawLine(a);
    p.drawLine(b);
  };
  head(180, 90);
  head(0, 90);
}

void Cross(QPainter& p, const QRectF& r) {
  p.setPen(Stroke(kRed, 5));
  p.drawLine(r.topLeft(), r.bottomRight());
  p.drawLine(r.topRight(), r.bottomLeft());
}

void Draw(QPainter& p, DetailIconKind kind) {
  switch (kind) {
    case DetailIconKind::SyncSchema:
      p.setPen(Stroke(kGrey, 2));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(4, 3, 22, 28));
      for (int y = 10; y <= 24; y += 7) p.drawLine(QPointF(8, y), QPointF(22, y));
      Cycle(p, QRectF(18, 18, 19, 19), kGreen);
      break;
    case DetailIconKind::SyncPartition:
      Box(p, QRectF(3, 4, 24, 22), kBlue);
      Cycle(p, QRectF(17, 17, 20, 20), kGreen);
      break;
    case DetailIconKind::SendAll:
      Box(p, QRectF(3, 14, 22, 22), kBlue);
      Arrow(p, QPointF(16, 22), QPointF(35, 5), kOrange);
      break;
    case DetailIconKind::ReceiveAll:
      Box(p, QRectF(15, 14, 22, 22), kBlue);
      Arrow(p, QPointF(4, 4), QPointF(23, 24), kOrange);
      break;
    case DetailIconKind::Join:
      Box(p, QRectF(2, 2, 20, 16), kBlue);
      Box(p, QRectF(14, 20, 24, 18), kBlue);
      Arrow(p, QPointF(10, 20), QPointF(15, 30), kGreen, 3.5);
      break;
    case DetailIconKind::RemovePartition:
      Box(p, QRectF(3, 5, 26, 24), kBlue);
      Cross(p, QRectF(20, 20, 15, 15));
      break;
    case DetailIconKind::RemoveReplica:
      Disk(p, QRectF(5, 4, 22, 28), kBlue);
      p.setPen(Stroke(kRed, 6));
      p.drawLine(QPointF(21, 31), QPointF(36, 31));
      break;
    case DetailIconKind::RepairTimeStamps:
      p.setPen(Stroke(kGrey, 2.5));
      p.setBrush(QColor(0xff, 0xf3, 0xc4));
      p.drawEllipse(QRectF(3, 3, 30, 30));
      p.setPen(Stroke(kGrey, 3));
      p.drawLine(QPointF(18, 18), QPointF(18, 8));
      p.drawLine(QPointF(18, 18), QPointF(26, 22));
      p.setPen(Stroke(kRed, 3));
      p.setBrush(kRed);
      p.drawPolygon(QPolygonF({QPointF(30, 24), QPointF(38, 38), QPointF(22, 38)}));
      p.setPen(Stroke(Qt::white, 2.5));
      p.drawLine(QPointF(30, 29), QPointF(30, 33));
      break;
    case DetailIconKind::ReloadDS: {
      p.setPen(Stroke(kGreen, 4.5));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(6, 8, 28, 28), 60 * 16, -300 * 16);
      p.drawLine(QPointF(20, 3), QPointF(20, 19));
      break;
    }
    case DetailIconKind::SyncReplica:
      Disk(p, QRectF(2, 8, 14, 24), kBlue);
      Disk(p, QRectF(24, 8, 14, 24), kGreen);
      Arrow(p, QPointF(12, 20), QPointF(29, 20), kOrange, 3.5);
      break;
    case DetailIconKind::AddReplica:
      Disk(p, QRectF(5, 4, 22, 28), kBlue);
      p.setPen(Stroke(kGreen, 5));
      p.drawLine(QPointF(21, 31), QPointF(37, 31));
      p.drawLine(QPointF(29, 23), QPointF(29, 39));
      break;
    case DetailIconKind::ChangeReplicaType:
      Disk(p, QRectF(3, 4, 22, 28), kBlue);
      p.setPen(Stroke(kOrange, 2));
      p.setBrush(QColor(0xff, 0xd5, 0x4f));
      p.drawPolygon(QPolygonF({QPointF(29, 18), QPointF(32, 26), QPointF(39, 26), QPointF(33, 31), QPointF(35, 38),
                               QPointF(29, 34), QPointF(23, 38), QPointF(25, 31), QPointF(19, 26), QPointF(26, 26)}));
      break;
    case DetailIconKind::SplitPartition:
      Box(p, QRectF(2, 2, 24, 18), kBlue);
      Box(p, QRectF(18, 22, 20, 16), kGreen);
      Arrow(p, QPointF(14, 20), QPointF(19, 32), kOrange, 3.5);
      break;
    case DetailIconKind::AbortOperation:
      p.setPen(Stroke(kRed.darker(120), 2.5));
      p.setBrush(kRed);
      p.drawPolygon(QPolygonF({QPointF(13, 3), QPointF(27, 3), QPointF(37, 13), QPointF(37, 27), QPointF(27, 37),
                               QPointF(13, 37), QPointF(3, 27), QPointF(3, 13)}));
      p.setPen(Stroke(Qt::white, 5));
      p.drawLine(QPointF(12, 20), QPointF(28, 20));
      break;
  }
}

}  // namespace

QIcon DetailIcon(DetailIconKind kind) {
  static std::map<DetailIconKind, QIcon> drawn;
  if (auto it = drawn.find(kind); it != drawn.end()) return it->second;
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    Draw(painter, kind);
  }
  QIcon icon(pixmap);
  drawn.emplace(kind, icon);
  return icon;
}

}  // namespace vestrel
