#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// Where the main window opens, how large, and whether it can be resized.
struct WindowPlacement
{
    // On high-density Linux and macOS screens the window keeps its size.
    bool fixedSize = false;
    QPoint position;
    // The form's size, cut to the usable area of a screen too small for it
    // (a laptop at 175 % offers about 780 x 410 pixels), so no part of the
    // window lies off the screen; its tabs scroll instead.
    QSize size = formSize;

    static constexpr QSize formSize{560, 600};
    static constexpr QSize minimumSize{480, 520};

    // Centres a window of the form's size on the screen, 120 pixels higher on
    // high-density screens, and never with its top edge above the usable area
    // (where the title bar could no longer be grabbed) nor its other edges
    // beyond it.
    static WindowPlacement compute(qreal devicePixelRatio, const QString &kernelType, const QRect &screenGeometry,
                                   const QRect &availableGeometry, const QRect &frameGeometry);
};
