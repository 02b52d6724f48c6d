#include "windowforward.h"

#include <QWidget>

void bringWindowForward(QWidget *window)
{
    window->showNormal();
    window->raise();
    window->activateWindow();
}

void showWindowAgain(QWidget *window)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (window->isHidden())
        window->show();
}
