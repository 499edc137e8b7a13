#include "ui/icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace quorvane {

namespace {

using Draw = std::function<void(QPainter&, qreal)>;  // s: the side, in pixels

QPixmap Render(int side, const Draw& draw) {
    QPixmap pm(side, side);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, side);
    return pm;
}

QIcon IconOf(std::initializer_list<int> sides, const Draw& draw) {
    QIcon icon;
    for (int side : sides) icon.addPixmap(Render(side, draw));
    return icon;
}

void DrawComputer(QPainter& p, qreal s, const QColor& screen) {
    const qreal u = s / 16.0;
    p.setPen(QPen(QColor(40, 40, 40), u));
    p.setBrush(QColor(210, 210, 210));
    p.drawRoundedRect(QRectF(1 * u, 1.5 * u, 14 * u, 10 * u), 1.2 * u, 1.2 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawRect(QRectF(3 * u, 3.5 * u, 10 * u, 6 * u));
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawRect(QRectF(3 * u, 3.5 * u, 10 * u, 1.6 * u));
    p.setBrush(QColor(90, 90, 90));
    p.drawRect(QRectF(6.5 * u, 11.5 * u, 3 * u, 2 * u));
    p.setPen(QPen(QColor(40, 40, 40), u * 0.8));
    p.setBrush(QColor(170, 170, 170));
    p.drawRoundedRect(QRectF(3.5 * u, 13.2 * u, 9 * u, 2 * u), 0.6 * u, 0.6 * u);
}

void DrawDisc(QPainter& p, qreal s, const QColor& colour) {
    QRadialGradient g(QPointF(s * 0.38, s * 0.32), s * 0.6);
    g.setColorAt(0, colour.lighter(150));
    g.setColorAt(1, colour);
    p.setPen(QPen(colour.darker(150), s / 24.0));
    p.setBrush(g);
    p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
}

void DrawGlyph(QPainter& p, qreal s, const QString& glyph, const QColor& colour, const QRectF& box, qreal size) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(std::max(1, static_cast<int>(s * size)));
    p.setFont(f);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, glyph);
}

void DrawPage(QPainter& p, qreal s, qreal right) {
    const qreal u = s / 32.0;
    QPainterPath page;
    page.moveTo(5 * u, 2 * u);
    page.lineTo((right - 7) * u, 2 * u);
    page.lineTo(right * u, 9 * u);
    page.lineTo(right * u, 30 * u);
    page.lineTo(5 * u, 30 * u);
    page.closeSubpath();
    p.setPen(QPen(QColor(70, 70, 70), 1.2 * u));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setBrush(QColor(220, 220, 220));
    QPainterPath fold;
    fold.moveTo((right - 7) * u, 2 * u);
    fold.lineTo((right - 7) * u, 9 * u);
    fold.lineTo(right * u, 9 * u);
    fold.closeSubpath();
    p.drawPath(fold);
    p.setPen(QPen(QColor(120, 140, 170), 1.4 * u));
    for (qreal y = 13; y < 28; y += 4) p.drawLine(QPointF(8 * u, y * u), QPointF((right - 4) * u, y * u));
}

void DrawGear(QPainter& p, qreal s) {
    const qreal c = s / 2;
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth; ++i) {
        QTransform t;
        t.translate(c, c);
        t.rotate(360.0 * i / teeth);
        gear.addPolygon(t.map(QPolygonF(QRectF(-s * 0.08, -s * 0.46, s * 0.16, s * 0.2))));
    }
    gear.addEllipse(QPointF(c, c), s * 0.33, s * 0.33);
    gear.setFillRule(Qt::WindingFill);
    QPainterPath hole;
    hole.addEllipse(QPointF(c, c), s * 0.13, s * 0.13);
    p.setPen(QPen(QColor(60, 60, 70), s / 28.0));
    p.setBrush(QColor(150, 160, 175));
    p.drawPath(gear.simplified().subtracted(hole));
}

void DrawSpeaker(QPainter& p, qreal s) {
    const qreal u = s / 32.0;
    QPainterPath body;
    body.moveTo(3 * u, 12 * u);
    body.lineTo(9 * u, 12 * u);
    body.lineTo(17 * u, 5 * u);
    body.lineTo(17 * u, 27 * u);
    body.lineTo(9 * u, 20 * u);
    body.lineTo(3 * u, 20 * u);
    body.closeSubpath();
    p.setPen(QPen(QColor(40, 40, 40), 1.2 * u));
    p.setBrush(QColor(90, 110, 140));
    p.drawPath(body);
    p.setPen(QPen(QColor(200, 30, 30), 3 * u, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(20 * u, 11 * u), QPointF(29 * u, 21 * u));
    p.drawLine(QPointF(29 * u, 11 * u), QPointF(20 * u, 21 * u));
}

}  // namespace

QIcon HostStatusIcon(int image) {
    static const QColor screens[] = {QColor(40, 200, 60), QColor(240, 210, 40), QColor(45, 50, 60)};
    const QColor screen = screens[(image >= 0 && image <= 2) ? image : 2];
    return IconOf({16, 32}, [screen](QPainter& p, qreal s) { DrawComputer(p, s, screen); });
}

QIcon EventKindIcon(int kind) {
    switch (kind) {
        case 0:
            return IconOf({16, 32}, [](QPainter& p, qreal s) {
                const qreal u = s / 16.0;
                QPainterPath tick;
                tick.moveTo(2.5 * u, 8.5 * u);
                tick.lineTo(6.5 * u, 12.5 * u);
                tick.lineTo(13.5 * u, 3.5 * u);
                p.setPen(QPen(QColor(0, 110, 20), 3.6 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.drawPath(tick);
                p.setPen(QPen(QColor(40, 190, 50), 2.2 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.drawPath(tick);
            });
        case 1:
            return IconOf({16, 32}, [](QPainter& p, qreal s) {
                const qreal u = s / 16.0;
                QPainterPath bubble;
                bubble.addRoundedRect(QRectF(1 * u, 1 * u, 14 * u, 11 * u), 3 * u, 3 * u);
                QPainterPath tail;
                tail.moveTo(4 * u, 11 * u);
                tail.lineTo(3.5 * u, 15 * u);
                tail.lineTo(8 * u, 11 * u);
                tail.closeSubpath();
                p.setPen(QPen(QColor(20, 60, 150), 0.9 * u));
                p.setBrush(QColor(50, 110, 220));
                p.drawPath(bubble.united(tail));
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::white);
                p.drawEllipse(QPointF(8 * u, 3.8 * u), 1.1 * u, 1.1 * u);
                p.drawRoundedRect(QRectF(7 * u, 5.6 * u, 2 * u, 5 * u), 0.5 * u, 0.5 * u);
            });
        default:
            return IconOf({16, 32}, [](QPainter& p, qreal s) {
                const qreal u = s / 16.0;
                p.setPen(QPen(QColor(150, 0, 0), 4 * u, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(3.5 * u, 3.5 * u), QPointF(12.5 * u, 12.5 * u));
                p.drawLine(QPointF(12.5 * u, 3.5 * u), QPointF(3.5 * u, 12.5 * u));
                p.setPen(QPen(QColor(230, 30, 30), 2.4 * u, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(3.5 * u, 3.5 * u), QPointF(12.5 * u, 12.5 * u));
                p.drawLine(QPointF(12.5 * u, 3.5 * u), QPointF(3.5 * u, 12.5 * u));
            });
    }
}

QIcon ToolbarIcon(ToolbarImage image) {
    Draw draw;
    switch (image) {
        case ToolbarImage::Export:
            draw = [](QPainter& p, qreal s) {
                const qreal u = s / 32.0;
                DrawPage(p, s, 22);
                QPainterPath arrow;
                arrow.moveTo(14 * u, 17 * u);
                arrow.lineTo(22 * u, 17 * u);
                arrow.lineTo(22 * u, 12 * u);
                arrow.lineTo(31 * u, 20.5 * u);
                arrow.lineTo(22 * u, 29 * u);
                arrow.lineTo(22 * u, 24 * u);
                arrow.lineTo(14 * u, 24 * u);
                arrow.closeSubpath();
                p.setPen(QPen(QColor(0, 100, 20), 1.2 * u));
                p.setBrush(QColor(50, 180, 60));
                p.drawPath(arrow);
            };
            break;
        case ToolbarImage::Setting:
            draw = [](QPainter& p, qreal s) { DrawGear(p, s); };
            break;
        case ToolbarImage::StartService:
            draw = [](QPainter& p, qreal s) {
                DrawDisc(p, s, QColor(30, 150, 50));
                QPolygonF play;
                play << QPointF(s * 0.4, s * 0.28) << QPointF(s * 0.72, s * 0.5) << QPointF(s * 0.4, s * 0.72);
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::white);
                p.drawPolygon(play);
            };
            break;
        case ToolbarImage::StopService:
            draw = [](QPainter& p, qreal s) {
                DrawDisc(p, s, QColor(200, 30, 30));
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::white);
                p.drawRect(QRectF(s * 0.33, s * 0.33, s * 0.34, s * 0.34));
            };
            break;
        case ToolbarImage::StopSound:
            draw = [](QPainter& p, qreal s) { DrawSpeaker(p, s); };
            break;
        case ToolbarImage::ViewLog:
            draw = [](QPainter& p, qreal s) {
                const qreal u = s / 32.0;
                DrawPage(p, s, 26);
                p.setPen(QPen(QColor(60, 60, 60), 2.4 * u));
                p.setBrush(QColor(200, 230, 255, 160));
                p.drawEllipse(QPointF(19 * u, 19 * u), 6 * u, 6 * u);
                p.setPen(QPen(QColor(60, 60, 60), 3.5 * u, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(QPointF(23.5 * u, 23.5 * u), QPointF(29.5 * u, 29.5 * u));
            };
            break;
        case ToolbarImage::Help:
            draw = [](QPainter& p, qreal s) {
                DrawDisc(p, s, QColor(40, 90, 200));
                DrawGlyph(p, s, QStringLiteral("?"), Qt::white, QRectF(0, 0, s, s), 0.62);
            };
            break;
        case ToolbarImage::About:
            draw = [](QPainter& p, qreal s) {
                DrawDisc(p, s, QColor(40, 90, 200));
                DrawGlyph(p, s, QStringLiteral("i"), Qt::white, QRectF(0, 0, s, s), 0.62);
            };
            break;
    }
    return IconOf({16, 24, 32}, draw);
}

QIcon ApplicationIcon() {
    return IconOf({16, 24, 32, 48, 64, 128}, [](QPainter& p, qreal s) {
        DrawComputer(p, s, QColor(40, 200, 60));
        // Radar arcs over the screen: the program watches the network.
        const qreal u = s / 16.0;
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(255, 255, 255, 230), std::max<qreal>(1.0, 0.7 * u), Qt::SolidLine, Qt::RoundCap));
        const QPointF c(5 * u, 8.8 * u);
        for (qreal r : {2.0, 4.0}) {
            p.drawArc(QRectF(c.x() - r * u, c.y() - r * u, 2 * r * u, 2 * r * u), 0 * 16, 90 * 16);
        }
    });
}

}  // namespace quorvane
