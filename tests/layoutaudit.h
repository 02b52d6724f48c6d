#pragma once

#include <QStringList>

class QWidget;

// Finds what a user would see cut in a shown window: a control that sticks
// out of the widget that holds it (a scroll area's page may, when the area can
// scroll to every part of it), a control squeezed below the size its text
// needs, a label whose text neither fits, wraps, nor is elided with the whole
// text in its tooltip or accessible description, and tabs that do not fit
// their bar. One line per finding, naming the control.
QStringList layoutProblems(QWidget *window);

// True when every part of `widget` shows in its window at the current scroll
// positions, so the user reaches it without scrolling.
bool visibleWithoutScrolling(const QWidget *widget);
