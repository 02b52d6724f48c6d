#include "decoration.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class DecorationInterface : public QAccessibleWidget
{
public:
    explicit DecorationInterface(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Graphic)
    {
    }

    // The plain widget interface would fall back to nothing, but a label's
    // would read its text (the emoji); this one stays silent.
    QString text(QAccessible::Text) const override { return QString(); }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        state.focusable = false;
        return state;
    }
};

// Asked with the most derived class name first, so it answers for this class
// before Qt's own label interface would answer for QLabel.
QAccessibleInterface *decorationFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("DecorativeLabel") && object && object->isWidgetType())
        return new DecorationInterface(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

DecorativeLabel::DecorativeLabel(QWidget *parent)
    : QLabel(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(decorationFactory);
        return true;
    }();
    Q_UNUSED(installed);
}
