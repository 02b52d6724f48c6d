// Draws the application's artwork: the three tray images and the logo.
// Usage: orvalin-artwork <output directory>
//        orvalin-artwork --hicolor <output directory>
// The PNGs of the first form are committed under resources/assets/; run it
// again only when the artwork changes. The second form draws the desktop icon
// at every size of the hicolor theme (<size>x<size>/apps/<id>.png); the build
// runs it for the install tree.

#include <QColor>
#include <QDir>
#include <QFileInfo>
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

QImage transparentImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// All artwork is drawn on a 64-unit grid and scaled to the image size, so the
// tray images are the logo's motif at 16 pixels. The painter works on the
// caller's image, which outlives it.
void beginCanvas(QImage &image, QPainter &painter)
{
    painter.begin(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(image.width() / 64.0, image.height() / 64.0);
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

QImage logo(int size = 64)
{
    QImage image = transparentImage(size);
    QPainter painter;
    beginCanvas(image, painter);
    drawBadge(painter, brandBlue, 4);
    painter.end();
    return image;
}

// At 16 pixels the ring would blur into the bolt, so the tray images keep
// only the coloured square and a heavier bolt.
void drawTrayBase(QImage &image, const QColor &base, QPainter &painter)
{
    beginCanvas(image, painter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(base);
    painter.drawRoundedRect(QRectF(0, 0, 64, 64), 14, 14);
    painter.setBrush(Qt::white);
    painter.drawPolygon(QPolygonF({{40, 4}, {14, 38}, {29, 38}, {23, 60}, {50, 26}, {35, 26}, {42, 4}}));
}

QImage trayImage(const QColor &base)
{
    QImage image = transparentImage(16);
    QPainter painter;
    drawTrayBase(image, base, painter);
    painter.end();
    return image;
}

// The desktop icon, drawn afresh at each size rather than scaled from one
// bitmap. Small sizes would smear the thin ring into the bolt, so they take the
// tray motif (square and heavy bolt), which stays crisp at 16 and 32 pixels.
QImage desktopIcon(int size)
{
    if (size >= 48)
        return logo(size);
    QImage image = transparentImage(size);
    QPainter painter;
    drawTrayBase(image, brandBlue, painter);
    painter.end();
    return image;
}

QImage connectingImage()
{
    QImage image = transparentImage(16);
    QPainter painter;
    drawTrayBase(image, idleGrey, painter);
    // Warning triangle over the lower right corner, outlined so it stays
    // readable on light and dark task bars. One pixel is 4 units: the base and
    // the exclamation mark sit on whole pixels so they stay sharp at 16 pixels.
    const QPolygonF triangle({{46, 22}, {62, 62}, {30, 62}});
    painter.setPen(QPen(warningInk, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(warningAmber);
    painter.drawPolygon(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(warningInk);
    painter.drawRect(QRectF(44, 36, 4, 12));
    painter.drawRect(QRectF(44, 52, 4, 4));
    painter.end();
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    const bool hicolor = args.size() == 3 && args.at(1) == QLatin1String("--hicolor");
    if (args.size() != 2 && !hicolor) {
        err << "usage: orvalin-artwork [--hicolor] <output directory>\n";
        return 2;
    }
    QDir dir(args.last());
    if (!dir.mkpath(QStringLiteral("."))) {
        err << "cannot create " << dir.path() << '\n';
        return 1;
    }

    QList<QPair<QString, QImage>> images;
    if (hicolor) {
        for (const int size : {16, 32, 48, 64, 128, 256}) {
            const QString name = QStringLiteral("%1x%1/apps/" ORVALIN_APP_ID ".png").arg(size);
            dir.mkpath(QFileInfo(dir.filePath(name)).path());
            images.append({name, desktopIcon(size)});
        }
    } else {
        images = {
            {QStringLiteral("orvalin64.png"), logo()},
            {QStringLiteral("connected.png"), trayImage(sessionGreen)},
            {QStringLiteral("notconnected.png"), trayImage(idleGrey)},
            {QStringLiteral("connecting.png"), connectingImage()},
        };
    }
    for (const auto &[name, image] : images) {
        if (!image.save(dir.filePath(name))) {
            err << "cannot write " << dir.filePath(name) << '\n';
            return 1;
        }
    }
    return 0;
}
