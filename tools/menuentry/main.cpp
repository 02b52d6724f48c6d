// Draws the installed menu entry as an application menu shows it: the icon
// the entry names, found by id in the hicolor theme of the installed tree, its
// name and comment, in English and in Chinese, as a grid tile and a list row.
// Usage: orvalin-menuentry <installed data directory, e.g. root/usr/share> <output.png>
// Fails when the entry or any of its icon sizes is missing.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QTextStream>

namespace {

// The [Desktop Entry] group's keys, localised keys included ("Name[zh_CN]").
QHash<QString, QString> readEntry(const QString &path)
{
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')) && !line.startsWith(QLatin1Char('#')))
            keys.insert(line.section(QLatin1Char('='), 0, 0).trimmed(), line.section(QLatin1Char('='), 1).trimmed());
    }
    return keys;
}

void drawTile(QPainter &painter, const QRect &cell, const QIcon &icon, const QString &name)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x33, 0x3A, 0x46));
    painter.drawRoundedRect(cell.adjusted(8, 8, -8, -8), 16, 16);
    painter.drawPixmap(cell.center().x() - 32, cell.top() + 28, icon.pixmap(64, 64));
    painter.setPen(Qt::white);
    painter.drawText(QRect(cell.left() + 12, cell.top() + 100, cell.width() - 24, 44),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, name);
}

void drawRow(QPainter &painter, const QRect &row, const QIcon &icon, const QString &name, const QString &comment)
{
    painter.drawPixmap(row.left() + 12, row.center().y() - 16, icon.pixmap(32, 32));
    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    painter.setPen(Qt::white);
    painter.drawText(QRect(row.left() + 56, row.top() + 6, row.width() - 64, 22), Qt::AlignLeft | Qt::AlignVCenter,
                     name);
    painter.restore();
    painter.setPen(QColor(0xB8, 0xC0, 0xCC));
    painter.drawText(QRect(row.left() + 56, row.top() + 28, row.width() - 64, 20), Qt::AlignLeft | Qt::AlignVCenter,
                     comment);
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        err << "usage: orvalin-menuentry <installed data directory> <output.png>\n";
        return 2;
    }
    const QDir share(args.at(1));
    const QString entryPath = share.filePath(QStringLiteral("applications/" ORVALIN_APP_ID ".desktop"));
    const QHash<QString, QString> entry = readEntry(entryPath);
    if (entry.value(QStringLiteral("Name")).isEmpty()) {
        err << "no menu entry at " << entryPath << '\n';
        return 1;
    }

    // The theme's index (its list of size folders) is the system's, from
    // hicolor-icon-theme, as on a desktop; the icon itself must come from
    // the installed tree, which is searched first.
    if (!QFile::exists(QStringLiteral("/usr/share/icons/hicolor/index.theme"))) {
        err << "the hicolor theme's index is missing (hicolor-icon-theme)\n";
        return 1;
    }
    QIcon::setThemeSearchPaths({share.filePath(QStringLiteral("icons")), QStringLiteral("/usr/share/icons")});
    QIcon::setFallbackSearchPaths({});
    QIcon::setThemeName(QStringLiteral("hicolor"));
    const QString iconName = entry.value(QStringLiteral("Icon"));
    const QIcon icon = QIcon::fromTheme(iconName);
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        if (!icon.availableSizes().contains(QSize(size, size))) {
            err << "icon " << iconName << " has no " << size << "x" << size << " image in " << share.path() << '\n';
            return 1;
        }
    }

    QImage image(720, 400, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(0x1E, 0x23, 0x2B));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);

    const QString name = entry.value(QStringLiteral("Name"));
    const QString nameZh = entry.value(QStringLiteral("Name[zh_CN]"), name);
    const QString comment = entry.value(QStringLiteral("Comment"));
    const QString commentZh = entry.value(QStringLiteral("Comment[zh_CN]"), comment);
    painter.setPen(QColor(0xB8, 0xC0, 0xCC));
    painter.drawText(QRect(24, 12, 680, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Applications › %1")
                         .arg(entry.value(QStringLiteral("Categories")).section(QLatin1Char(';'), 0, 0)));
    drawTile(painter, QRect(16, 44, 170, 170), icon, name);
    drawTile(painter, QRect(186, 44, 170, 170), icon, nameZh);
    drawRow(painter, QRect(16, 240, 690, 56), icon, name, comment);
    drawRow(painter, QRect(16, 304, 690, 56), icon, nameZh, commentZh);
    painter.end();

    if (!image.save(args.at(2))) {
        err << "cannot write " << args.at(2) << '\n';
        return 1;
    }
    return 0;
}
