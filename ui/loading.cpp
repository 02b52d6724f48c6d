#include "loading.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

Loading::Loading(QWidget *parent)
    : QWidget(parent)
{
    connect(&timer, &QTimer::timeout, this, &Loading::refresh);
    computeGeometry();
}

void Loading::start()
{
    running = true;
    // QTimer::start on an active timer restarts it, so repeated starts keep one timer.
    timer.setInterval(interval);
    timer.start();
}

void Loading::stop()
{
    if (running) {
        running = false;
        timer.stop();
    }
    repaint();
}

void Loading::refresh()
{
    repaint();
}

void Loading::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    computeGeometry();
}

// Positions and sizes depend only on the widget's size, so they are computed
// here once and painting just reads them.
void Loading::computeGeometry()
{
    side = float(std::min(width(), height()));
    const float half = side * 0.5f;
    ringRadius = half - maxDotSize * 0.5f - 1.0f;
    const float step = (maxDotSize - minDotSize) / float(dotCount - 1) * 0.5f;

    dotRadii.clear();
    dotCentres.clear();
    for (int i = 0; i < dotCount; ++i) {
        dotRadii.append(maxDotSize * 0.5f - float(i) * step);
        const double angle = -(360.0 / dotCount) * i * 0.017453292;
        // Screen y grows downwards: a negative angle runs clockwise from three o'clock.
        dotCentres.append(QPointF(std::cos(angle) * ringRadius + half, half - std::sin(angle) * ringRadius));
    }
}

void Loading::paintEvent(QPaintEvent *event)
{
    if (!running) {
        QWidget::paintEvent(event);
        return;
    }

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(dotColor);
    painter.setBrush(QBrush(dotColor, Qt::SolidPattern));
    for (int i = 0; i < dotCount; ++i) {
        painter.setPen(dotColor);
        const float r = dotRadii.at((frameCount + dotCount - i) % dotCount);
        painter.drawEllipse(dotCentres.at(i), r, r);
    }
    frameCount = (frameCount + 1) % dotCount;
}
