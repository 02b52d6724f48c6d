#include "windowplacement.h"

WindowPlacement WindowPlacement::compute(qreal devicePixelRatio, const QString &kernelType, const QRect &screenGeometry,
                                         const QRect &availableGeometry, const QRect &frameGeometry)
{
    WindowPlacement placement;
    const bool highDensity = devicePixelRatio > 1.0;
    placement.fixedSize
        = highDensity && (kernelType == QLatin1String("linux") || kernelType == QLatin1String("darwin"));

    QPoint position = screenGeometry.center() - frameGeometry.center();
    if (highDensity)
        position.ry() -= 120;
    if (!availableGeometry.isEmpty()) {
        placement.size = formSize.boundedTo(availableGeometry.size());
        position.setX(qMin(position.x(), availableGeometry.right() + 1 - placement.size.width()));
        position.setY(qMin(position.y(), availableGeometry.bottom() + 1 - placement.size.height()));
        position.setY(qMax(position.y(), availableGeometry.top()));
        position.setX(qMax(position.x(), availableGeometry.left()));
    }
    placement.position = position;
    return placement;
}
