// screengrab OUT.png [DELAY_MS]: saves the whole primary screen as a PNG.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

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
    QTimer::singleShot(delayMs, &app, [&] {
        QScreen *screen = QGuiApplication::primaryScreen();
        const QPixmap shot = screen ? screen->grabWindow(0) : QPixmap();
        if (shot.isNull())
            std::fprintf(stderr, "screengrab: no screen to grab\n");
        else if (!shot.save(out, "PNG"))
            std::fprintf(stderr, "screengrab: cannot write %s\n", qPrintable(out));
        else
            result = 0;
        QCoreApplication::quit();
    });
    app.exec();
    return result;
}
