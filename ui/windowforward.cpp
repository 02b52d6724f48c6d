#include "windowforward.h"

#include <QWidget>

void bringWindowForward(QWidget *window)
{
    window->showNormal();
    window->raise();
    window->activateWindow();
}
