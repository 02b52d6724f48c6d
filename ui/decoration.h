#pragma once

#include <QLabel>

// A label that only decorates (an emoji beside the title that says the same):
// screen readers skip it, because the widget around it speaks for it. It has
// no name of its own and reports itself invisible to assistive technology.
class DecorativeLabel : public QLabel
{
    Q_OBJECT

public:
    explicit DecorativeLabel(QWidget *parent = nullptr);
};
