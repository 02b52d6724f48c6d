// screengrab OUT.png [DELAY_MS]: saves the whole primary screen as a PNG after
// the delay. A screen that is still blank then (the program to be pictured has
// not drawn yet, as on a busy machine) is grabbed again every half second, for
// up to 20 seconds more.
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

namespace {
bool isBlank(const QImage &image)
{
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 8) {
        for (int x = 0; x < image.width(); x += 8) {
            if (image.pixel(x, y) != first)
                return false;
        }
    }
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool delayOk = true;
    const int delayMs = arguments.size() > 2 ? arguments.at(2).toInt(&delayOk) : 0;
    if (arguments.size() < 2 || arguments.size() > 3 || !delayOk || delayMs < 0) {
        std::fprintf(stderr, "usage: screengrab OUT.png [DELAY_MS]\n");
        return 2;
    }
    const QString out = arguments.at(1);
    int result = 1;
    int retriesLeft = 40;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &app, [&] {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
        if (shot.isNull()) {
            std::fprintf(stderr, "screengrab: no screen to grab\n");
        } else if (isBlank(shot.toImage()) && retriesLeft-- > 0) {
            timer.start(500);
            return;
        } else if (!shot.save(out, "PNG")) {
            std::fprintf(stderr, "screengrab: cannot write %s\n", qPrintable(out));
        } else {
            result = 0;
        }
        QCoreApplication::quit();
    });
    timer.start(delayMs);
    app.exec();
    return result;
}
