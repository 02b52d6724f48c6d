// Draws the application's artwork: the three tray images and the logo.
// Usage: orvalin-artwork <output directory>
// The PNGs it writes are committed under resources/assets/; run it again only
// when the artwork changes.

#include <QColor>
#include <QDir>
#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTextStream>

namespace {

const QColor brandBlue(0x25, 0x63, 0xEB);
const QColor sessionGreen(0x16, 0xA3, 0x4A);
const QColor idleGrey(0x94, 0xA3, 0xB8);
const QColor warningAmber(0xF5, 0x9E, 0x0B);
const QColor warningInk(0x1F, 0x29, 0x37);

// All artwork is drawn on a 64-unit grid and scaled to the image size, so the
// tray images are the logo's motif at 16 pixels.
QImage canvas(int size, QPainter &painter)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    painter.begin(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    return image;
}

QPolygonF bolt()
{
    return QPolygonF({{36, 9}, {19, 35}, {30, 35}, {26, 55}, {45, 27}, {34, 27}, {38, 9}});
}

void drawBadge(QPainter &painter, const QColor &base, qreal ringWidth)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(base);
    painter.drawRoundedRect(QRectF(1, 1, 62, 62), 14, 14);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, ringWidth));
    painter.drawEllipse(QPointF(32, 32), 23, 23);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPolygon(bolt());
}

QImage logo()
{
    QPainter painter;
    QImage image = canvas(64, painter);
    drawBadge(painter, brandBlue, 4);
    painter.end();
    return image;
}

// At 16 pixels the ring would blur into the bolt, so the tray images keep
// only the coloured square and a heavier bolt.
QImage trayBase(const QColor &base, QPainter &painter)
{
    QImage image = canvas(16, painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(base);
    painter.drawRoundedRect(QRectF(0, 0, 64, 64), 14, 14);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({{40, 4}, {14, 38}, {29, 38}, {23, 60}, {50, 26}, {35, 26}, {42, 4}}));
    return image;
}

QImage trayImage(const QColor &base)
{
    QPainter painter;
    QImage image = trayBase(base, painter);
    painter.end();
    return image;
}

QImage connectingImage()
{
    QPainter painter;
    QImage image = trayBase(idleGrey, painter);
    // Warning triangle over the lower right corner, outlined so it stays
    // readable on light and dark task bars.
    const QPolygonF triangle({{45, 20}, {62, 60}, {28, 60}});
    painter.setPen(QPen(warningInk, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(warningAmber);
    painter.drawPolygon(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(warningInk);
    painter.drawRect(QRectF(42.5, 34, 5, 14));
    painter.drawRect(QRectF(42.5, 51, 5, 5));
    painter.end();
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        err << "usage: orvalin-artwork <output directory>\n";
        return 2;
    }
    QDir dir(args.at(1));
    if (!dir.mkpath(QStringLiteral("."))) {
        err << "cannot create " << dir.path() << '\n';
        return 1;
    }

    const QList<QPair<QString, QImage>> images = {
        {QStringLiteral("orvalin64.png"), logo()},
        {QStringLiteral("connected.png"), trayImage(sessionGreen)},
        {QStringLiteral("notconnected.png"), trayImage(idleGrey)},
        {QStringLiteral("connecting.png"), connectingImage()},
    };
    for (const auto &[name, image] : images) {
        if (!image.save(dir.filePath(name))) {
            err << "cannot write " << dir.filePath(name) << '\n';
            return 1;
        }
    }
    return 0;
}
