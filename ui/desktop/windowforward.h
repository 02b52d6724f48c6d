#pragma once

class QWidget;

// Restores a window that is hidden (in the tray) or minimised and brings it in
// front of other windows; showNormal alone leaves it behind them on most desktops.
void bringWindowForward(QWidget *window);

// Brings back a window the user did not hide on purpose when something needs
// their attention: hidden in the tray, or minimised to the taskbar for want of
// a notification area. A window already on screen is left where it is.
void showWindowAgain(QWidget *window);
