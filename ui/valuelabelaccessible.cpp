#include "valuelabelaccessible.h"

#include "boundedlabel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QVariant>

namespace {

const char marker[] = "orvalinValueLabel";

class ValueLabelInterface : public QAccessibleWidget
{
public:
    explicit ValueLabelInterface(QLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {
    }

    // Read when asked, so the reader always gets the value on screen.
    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Description) {
            // A bounded label shows part of a long value; the reader gets it whole.
            if (const auto *bounded = qobject_cast<const BoundedLabel *>(widget()))
                return bounded->text();
            return static_cast<QLabel *>(widget())->text();
        }
        return QAccessibleWidget::text(kind);
    }
};

// Custom factories are asked before Qt's own, so this answers for the marked
// labels and leaves every other label to Qt.
QAccessibleInterface *valueLabelFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("QLabel") && object && object->property(marker).toBool())
        return new ValueLabelInterface(static_cast<QLabel *>(object));
    return nullptr;
}

} // namespace

void ValueLabelAccessible::mark(QLabel *value)
{
    static const bool installed = [] {
        QAccessible::installFactory(valueLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
    value->setProperty(marker, true);
}
