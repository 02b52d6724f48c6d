#include "thememanager.h"

#include <QApplication>
#include <QDebug>
#include <QFile>
#include <QPalette>

ThemeManager *ThemeManager::instance()
{
    // Function-local static: created once, thread-safe, destroyed at exit.
    static ThemeManager manager;
    return &manager;
}

QString ThemeManager::resourcePath(Theme theme)
{
    return theme == Dark ? QStringLiteral(":/theme/dark.qss") : QStringLiteral(":/theme/light.qss");
}

namespace {
// Style sheets cannot colour links in rich text (the "Tips" box, the About
// tab); they take the palette's link colour, which would stay a dark blue on
// the dark surfaces. Links follow the theme's accent instead.
void applyLinkColour(ThemeManager::Theme theme)
{
    const QColor accent(theme == ThemeManager::Dark ? QStringLiteral("#3B82F6") : QStringLiteral("#2563EB"));
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Link, accent);
    palette.setColor(QPalette::LinkVisited, accent);
    QApplication::setPalette(palette);
}
} // namespace

void ThemeManager::setTheme(Theme theme)
{
    if (requested && theme == current)
        return;
    // Recorded before loading: a sheet that fails to load still counts as
    // current, so asking for it again does not retry.
    requested = true;
    current = theme;

    QFile file(resourcePath(theme));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        sheet = QString::fromUtf8(file.readAll());
        file.close();
        if (qApp) {
            applyLinkColour(theme);
            qApp->setStyleSheet(sheet);
        }
    } else {
        qWarning().noquote() << "Failed to load theme file:" << file.fileName();
    }
    emit themeChanged(theme);
}

bool ThemeManager::hasTheme() const
{
    return requested;
}

ThemeManager::Theme ThemeManager::currentTheme() const
{
    return current;
}

QString ThemeManager::styleSheet() const
{
    return sheet;
}
