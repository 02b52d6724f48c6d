#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace Ui {
class Orvalin;
}

// The Setting tab: shows the switches and the theme from the settings, and
// saves each change at once. The four switches the agent cares about also
// re-send the agent configuration.
class SettingsTab : public QObject
{
    Q_OBJECT

public:
    SettingsTab(Ui::Orvalin *form, QObject *parent);

    // Called after a switch that the agent configuration is built from has
    // changed (the window's configVPN).
    void setConfigureAgent(std::function<void()> configure);

    // Sets every control from the settings and applies the saved theme, then
    // connects the handlers, so that initialising saves and sends nothing.
    void initialise();

    // The combo index for a stored "theme" value: only "dark" exactly is dark.
    static int themeIndex(const QString &name);

    // The control that shows a setting (Policy::settingNames()), or null.
    QWidget *control(const QString &setting) const;

private:
    // Disables what the administrator fixes, with the reason as tooltip.
    void applyPolicy();
    void storeSwitch(const char *key, bool on);
    // A switch the agent configuration is built from.
    void storeAgentSwitch(const char *key, bool on);
    void onAutoStartToggled(bool on);
    void onThemeSelected(int index);

    Ui::Orvalin *form;
    std::function<void()> configure;
    bool initialised = false;
};
