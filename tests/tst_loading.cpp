#include "loading.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPaintEvent>
#include <QtTest>

#include <cmath>

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class TstLoading : public QObject
{
    Q_OBJECT

private slots:
    void geometry_data();
    void geometry();
    void startTwiceKeepsOneTimer();
    void stopWhenIdleOnlyRepaints();
    void stopClearsTheRing();
    void largestDotTravelsClockwise();
    void frameCountStaysBounded();

private:
    static int colouredPixels(const QImage &image);
};

void TstLoading::geometry_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("half");
    QTest::addColumn<double>("ringRadius");

    // The ring sits in the left-hand (or top) square of a non-square widget.
    QTest::newRow("90x60, the form's size") << QSize(90, 60) << 30.0 << 26.5;
    QTest::newRow("60x90") << QSize(60, 90) << 30.0 << 26.5;
    QTest::newRow("40x40") << QSize(40, 40) << 20.0 << 16.5;
}

void TstLoading::geometry()
{
    QFETCH(QSize, size);
    QFETCH(double, half);
    QFETCH(double, ringRadius);

    Loading loading;
    loading.resize(size);
    loading.show();
    QVERIFY(QTest::qWaitForWindowExposed(&loading));

    QCOMPARE(loading.side, float(std::min(size.width(), size.height())));
    QCOMPARE(loading.ringRadius, float(ringRadius));
    QCOMPARE(loading.dotCentres.size(), 12);
    QCOMPARE(loading.dotRadii.size(), 12);

    for (int i = 0; i < 12; ++i) {
        const QPointF c = loading.dotCentres.at(i);
        QVERIFY2(std::abs(std::hypot(c.x() - half, c.y() - half) - ringRadius) < 1e-4,
                 qPrintable(QStringLiteral("dot %1 off the ring").arg(i)));
        // Radii shrink evenly from 2.5 to 0.5 pixels.
        QVERIFY(std::abs(loading.dotRadii.at(i) - (2.5 - i * 2.0 / 11)) < 1e-5);
    }
    // Dot 0 at three o'clock, dot 3 at six o'clock: clockwise on screen.
    QVERIFY(std::abs(loading.dotCentres.at(0).x() - (half + ringRadius)) < 1e-4);
    QVERIFY(std::abs(loading.dotCentres.at(0).y() - half) < 1e-4);
    QVERIFY(std::abs(loading.dotCentres.at(3).x() - half) < 1e-4);
    QVERIFY(std::abs(loading.dotCentres.at(3).y() - (half + ringRadius)) < 1e-4);
}

void TstLoading::startTwiceKeepsOneTimer()
{
    Loading loading;
    loading.resize(90, 60);
    loading.show();
    QVERIFY(QTest::qWaitForWindowExposed(&loading));

    PaintCounter counter;
    loading.installEventFilter(&counter);
    loading.start();
    loading.start();
    QVERIFY(loading.isRunning());
    QVERIFY(loading.timer.isActive());
    QCOMPARE(loading.timer.interval(), 90);

    // One 90 ms timer paints about 11 times a second; a second timer would double that.
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(1000);
    const double expected = clock.elapsed() / 90.0;
    QVERIFY2(counter.paints >= 5 && counter.paints <= expected * 1.4 + 1,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(counter.paints).arg(clock.elapsed())));
}

void TstLoading::stopWhenIdleOnlyRepaints()
{
    Loading loading;
    loading.resize(90, 60);
    loading.show();
    QVERIFY(QTest::qWaitForWindowExposed(&loading));

    PaintCounter counter;
    loading.installEventFilter(&counter);
    loading.stop();

    QCOMPARE(counter.paints, 1); // repainted at once, not scheduled
    QVERIFY(!loading.isRunning());
    QVERIFY(!loading.timer.isActive());
    QCOMPARE(loading.frameCount, 0);
    QCOMPARE(colouredPixels(loading.grab().toImage()), 0);
}

void TstLoading::stopClearsTheRing()
{
    Loading loading;
    loading.resize(90, 60);
    loading.show();
    QVERIFY(QTest::qWaitForWindowExposed(&loading));

    loading.start();
    QVERIFY(colouredPixels(loading.grab().toImage()) > 20);
    const int frame = loading.frameCount;
    loading.stop();
    QVERIFY(!loading.timer.isActive());
    QCOMPARE(colouredPixels(loading.grab().toImage()), 0);
    QCOMPARE(loading.frameCount, frame); // idle painting does not advance the animation
    loading.start();
    QCOMPARE(loading.frameCount, frame); // and a restart continues where it stopped
}

void TstLoading::largestDotTravelsClockwise()
{
    Loading loading;
    loading.resize(60, 60);
    loading.show();
    QVERIFY(QTest::qWaitForWindowExposed(&loading));
    loading.start();
    loading.timer.stop(); // drive the frames by hand

    // Every paint draws one frame: at frame c the largest dot is dot c mod 12.
    for (int step = 0; step < 14; ++step) {
        const int expected = loading.frameCount;
        const QImage image = loading.grab().toImage();
        int largest = -1;
        int largestArea = 0;
        for (int i = 0; i < 12; ++i) {
            const QPoint c = loading.dotCentres.at(i).toPoint();
            const int area = colouredPixels(image.copy(c.x() - 4, c.y() - 4, 9, 9));
            if (area > largestArea) {
                largestArea = area;
                largest = i;
            }
        }
        QCOMPARE(largest, expected);
        QCOMPARE(loading.frameCount, (expected + 1) % 12);
    }
}

void TstLoading::frameCountStaysBounded()
{
    Loading loading;
    loading.resize(90, 60);
    loading.show();
    QVERIFY(QTest::qWaitForWindowExposed(&loading));
    loading.start();
    loading.timer.stop();
    QCOMPARE(loading.frameCount, 0); // idle paints before the start did not count
    for (int i = 0; i < 100; ++i) {
        loading.repaint();
        QVERIFY(loading.frameCount >= 0 && loading.frameCount < 12);
    }
    QCOMPARE(loading.frameCount, 100 % 12);
}

int TstLoading::colouredPixels(const QImage &image)
{
    const QColor dot(49, 177, 190);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - dot.red()) < 40 && std::abs(c.green() - dot.green()) < 40
                && std::abs(c.blue() - dot.blue()) < 40)
                ++count;
        }
    return count;
}

QTEST_MAIN(TstLoading)
#include "tst_loading.moc"
