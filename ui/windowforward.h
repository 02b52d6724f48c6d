#pragma once

class QWidget;

// Restores a window that is hidden (in the tray) or minimised and brings it in
// front of other windows; showNormal alone leaves it behind them on most desktops.
void bringWindowForward(QWidget *window);
