// Draws the program's icon: a teal tile (the file list's colour) with a
// white pair of eighth notes and a pale-yellow name tag (the proposed-name
// list's colour). Writes dorvasu-<size>.png for each size given.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <cstdio>

static QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0); // drawn on a 256 x 256 grid

    // Tile.
    QLinearGradient tile(0, 0, 0, 256);
    tile.setColorAt(0, QColor(0, 160, 160));
    tile.setColorAt(1, QColor(0, 100, 100));
    p.setPen(QPen(QColor(0, 70, 70), 6));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 40, 40);

    // Two eighth notes joined by a beam.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    QTransform head;
    head.rotate(-20);
    auto noteHead = [&](QPointF centre) {
        QPainterPath ellipse;
        ellipse.addEllipse(QPointF(0, 0), 26, 18);
        p.drawPath(head.map(ellipse).translated(centre));
    };
    noteHead(QPointF(62, 150));
    noteHead(QPointF(140, 128));
    p.drawRect(QRectF(80, 50, 11, 100));   // stems
    p.drawRect(QRectF(158, 28, 11, 100));
    QPolygonF beam({QPointF(80, 50), QPointF(169, 28), QPointF(169, 58), QPointF(80, 80)});
    p.drawPolygon(beam);

    // Name tag with a string hole, tilted, in the lower right.
    p.save();
    p.translate(168, 188);
    p.rotate(-18);
    QPainterPath tag;
    tag.moveTo(-70, -34);
    tag.lineTo(40, -34);
    tag.lineTo(72, 0);
    tag.lineTo(40, 34);
    tag.lineTo(-70, 34);
    tag.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(QPointF(42, 0), 9, 9);
    p.setPen(QPen(QColor(90, 80, 0), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(255, 255, 128));
    p.drawPath(tag.subtracted(hole));
    // Lines of "text" on the tag.
    p.setPen(QPen(QColor(0, 100, 100), 9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-54, -12), QPointF(18, -12));
    p.drawLine(QPointF(-54, 12), QPointF(4, 12));
    p.restore();

    return image;
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    for (int i = 1; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString name = QStringLiteral("dorvasu-%1.png").arg(size);
        if (size <= 0 || !drawIcon(size).save(name)) {
            std::fprintf(stderr, "cannot write icon of size %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
