// Draws the dialog's icons (run by hand: draw_icons OUTPUT_FOLDER; the PNGs are kept in the tree).
// Light strokes on a transparent ground, since the dialog is black.
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <cmath>
#include <functional>

namespace {

constexpr int kSize = 64;
const QColor kInk(235, 235, 235);
const QColor kAccent(90, 170, 255);

void save(const QString& folder, const QString& name, const std::function<void(QPainter&)>& draw) {
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    image.save(folder + "/" + name, "PNG");
}

QPen pen(qreal width, const QColor& color = kInk) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A circular arrow; clockwise when `clockwise`.
void rotationArrow(QPainter& p, bool clockwise) {
    const QRectF circle(14, 14, 36, 36);
    p.setPen(pen(5));
    // Qt angles run counter-clockwise from three o'clock, in 1/16 degree.
    const int start = clockwise ? 120 : 60;
    const int span = clockwise ? -270 : 270;
    p.drawArc(circle, start * 16, span * 16);
    const double end = (start + span) * M_PI / 180.0;
    const QPointF tip(32 + 18 * std::cos(end), 32 - 18 * std::sin(end));
    // Arrow head along the tangent at the end of the arc.
    const double tangent = end + (clockwise ? -M_PI / 2 : M_PI / 2);
    const QPointF dir(std::cos(tangent), -std::sin(tangent));
    const QPointF normal(-dir.y(), dir.x());
    QPainterPath head;
    head.moveTo(tip + dir * 14);
    head.lineTo(tip + normal * 7 - dir * 2);
    head.lineTo(tip - normal * 7 - dir * 2);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawPath(head);
}

// Two mirrored triangles across a dashed axis; the axis is vertical for a left-right flip.
void flip(QPainter& p, bool aroundVerticalAxis) {
    if (!aroundVerticalAxis) {
        p.translate(32, 32);
        p.rotate(90);
        p.translate(-32, -32);
    }
    QPen axis = pen(3, kAccent);
    axis.setDashPattern({2, 2});
    p.setPen(axis);
    p.drawLine(QPointF(32, 6), QPointF(32, 58));
    QPainterPath left;
    left.moveTo(26, 14);
    left.lineTo(26, 50);
    left.lineTo(6, 50);
    left.closeSubpath();
    p.setPen(pen(3));
    p.setBrush(kInk);
    p.drawPath(left);
    QPainterPath right;
    right.moveTo(38, 14);
    right.lineTo(38, 50);
    right.lineTo(58, 50);
    right.closeSubpath();
    p.setBrush(Qt::NoBrush);
    p.drawPath(right);
}

void sun(QPainter& p) {
    p.setPen(pen(4));
    p.setBrush(kInk);
    p.drawEllipse(QPointF(32, 32), 10, 10);
    for (int i = 0; i < 8; ++i) {
        const double a = i * M_PI / 4;
        p.drawLine(QPointF(32 + 16 * std::cos(a), 32 + 16 * std::sin(a)),
                   QPointF(32 + 26 * std::cos(a), 32 + 26 * std::sin(a)));
    }
}

void contrast(QPainter& p) {
    p.setPen(pen(4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(32, 32), 24, 24);
    QPainterPath half;
    half.moveTo(32, 8);
    half.arcTo(QRectF(8, 8, 48, 48), 90, 180);
    half.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(half);
}

void padlock(QPainter& p, bool locked) {
    p.setPen(pen(5));
    p.setBrush(Qt::NoBrush);
    if (locked) {
        p.drawArc(QRectF(18, 8, 28, 30), 0, 180 * 16);
        p.drawLine(QPointF(18, 23), QPointF(18, 30));
        p.drawLine(QPointF(46, 23), QPointF(46, 30));
    } else {
        p.drawArc(QRectF(30, 4, 28, 30), 0, 180 * 16);
        p.drawLine(QPointF(58, 19), QPointF(58, 26));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(locked ? kInk : kAccent);
    p.drawRoundedRect(QRectF(12, 30, 40, 28), 5, 5);
    p.setBrush(QColor(0, 0, 0));
    p.drawEllipse(QPointF(32, 42), 4, 4);
    p.drawRect(QRectF(30, 42, 4, 9));
}

void gear(QPainter& p) {
    QPainterPath outline;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a0 = i * M_PI / teeth;
        const double a1 = (i + 1) * M_PI / teeth;
        const double r = (i % 2 == 0) ? 26 : 19;
        const QPointF from(32 + r * std::cos(a0), 32 + r * std::sin(a0));
        const QPointF to(32 + r * std::cos(a1), 32 + r * std::sin(a1));
        if (i == 0) {
            outline.moveTo(from);
        } else {
            outline.lineTo(from);
        }
        outline.lineTo(to);
    }
    outline.closeSubpath();
    outline.addEllipse(QPointF(32, 32), 8, 8);
    outline.setFillRule(Qt::OddEvenFill);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPath(outline);
}

// A tooth on a sensor plate: the product's window icon.
void tooth(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 60, 110));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    QPainterPath crown;
    crown.moveTo(18, 14);
    crown.cubicTo(24, 8, 28, 14, 32, 14);
    crown.cubicTo(36, 14, 40, 8, 46, 14);
    crown.cubicTo(52, 20, 50, 30, 46, 36);
    crown.lineTo(42, 54);
    crown.cubicTo(40, 58, 37, 56, 36, 52);
    crown.lineTo(33, 40);
    crown.lineTo(31, 40);
    crown.lineTo(28, 52);
    crown.cubicTo(27, 56, 24, 58, 22, 54);
    crown.lineTo(18, 36);
    crown.cubicTo(14, 30, 12, 20, 18, 14);
    p.setBrush(QColor(245, 245, 240));
    p.drawPath(crown);
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    // Each shows what its button does to an upright tile: the rotate button brings the right side
    // to the top (counter-clockwise), the other rotate button the left side (clockwise); "flip
    // vertical" mirrors left to right, "flip horizontal" top to bottom.
    save(folder, "ReverseRotation_hover.png", [](QPainter& p) { rotationArrow(p, false); });
    save(folder, "forwarRotation_hover.png", [](QPainter& p) { rotationArrow(p, true); });
    save(folder, "27.png", [](QPainter& p) { flip(p, true); });
    save(folder, "24.png", [](QPainter& p) { flip(p, false); });
    save(folder, "36.png", sun);
    save(folder, "39.png", contrast);
    save(folder, "lock_icon.png", [](QPainter& p) { padlock(p, true); });
    save(folder, "unlock_icon.png", [](QPainter& p) { padlock(p, false); });
    save(folder, "setting-hover.png", gear);
    save(folder, "favicon.png", tooth);
    return 0;
}
