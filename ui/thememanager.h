#pragma once

#include <QObject>
#include <QString>

// Loads one of the two embedded style sheets and applies it to the whole
// application. One process-wide instance.
class ThemeManager : public QObject
{
    Q_OBJECT

public:
    // The numbers are also the indices of the theme combo box.
    enum Theme { Light = 0, Dark = 1 };
    Q_ENUM(Theme)

    static ThemeManager *instance();
    static QString resourcePath(Theme theme);

    // Asking again for the theme already in force does nothing.
    void setTheme(Theme theme);

    bool hasTheme() const;
    Theme currentTheme() const;
    QString styleSheet() const;

signals:
    void themeChanged(ThemeManager::Theme theme);

private:
    ThemeManager() = default;

    bool requested = false;
    Theme current = Light;
    QString sheet;
};
