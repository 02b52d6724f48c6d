#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// Where the main window opens and whether it can be resized.
struct WindowPlacement
{
    // On high-density Linux and macOS screens the window keeps its form size.
    bool fixedSize = false;
    QPoint position;

    static constexpr QSize formSize{560, 600};
    static constexpr QSize minimumSize{480, 520};

    // Centres a window of the form's size on the screen, 120 pixels higher on
    // high-density screens, and never with its top edge above the usable area
    // (where the title bar could no longer be grabbed).
    static WindowPlacement compute(qreal devicePixelRatio, const QString &kernelType, const QRect &screenGeometry,
                                   const QRect &availableGeometry, const QRect &frameGeometry);
};
