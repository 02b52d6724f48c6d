#pragma once

#include <QColor>
#include <QList>
#include <QPointF>
#include <QTimer>
#include <QWidget>

// A small busy indicator: a ring of dots whose sizes rotate clockwise. It draws
// nothing while idle, so it can sit in a layout permanently.
class Loading : public QWidget
{
    Q_OBJECT

public:
    explicit Loading(QWidget *parent = nullptr);

    void start();
    void stop();

    bool isRunning() const { return running; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private slots:
    void refresh();

private:
    friend class TstLoading;

    void computeGeometry();

    // Only the value modulo dotCount matters, so it is kept in that range and
    // cannot overflow however long the indicator runs.
    int frameCount = 0;
    const QColor dotColor{49, 177, 190};
    const int dotCount = 12;
    const float minDotSize = 1.0f;
    const float maxDotSize = 5.0f;
    const int interval = 90;
    QTimer timer;
    float side = 0;
    float ringRadius = 0;
    QList<float> dotRadii;
    QList<QPointF> dotCentres;
    bool running = false;
};
