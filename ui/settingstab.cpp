#include "settingstab.h"
#include "ui_orvalin.h"

#include "appglobals.h"
#include "autostart.h"
#include "configmanager.h"
#include "policy.h"
#include "thememanager.h"

#include <QCoreApplication>
#include <QDir>

SettingsTab::SettingsTab(Ui::Orvalin *form, QObject *parent)
    : QObject(parent)
    , form(form)
{
}

void SettingsTab::setConfigureAgent(std::function<void()> configureAgent)
{
    configure = std::move(configureAgent);
}

int SettingsTab::themeIndex(const QString &name)
{
    return name == QLatin1String("dark") ? ThemeManager::Dark : ThemeManager::Light;
}

void SettingsTab::initialise()
{
    if (initialised)
        return;
    initialised = true;

    const QJsonObject &config = configManager->config;
    auto flag = [&config](const char *key) { return config.value(QLatin1String(key)).toBool(false); };

    form->checkBoxAutoLogin->setChecked(flag("autoLogin"));
    form->checkBoxAutoStart->setChecked(Autostart::isEnabled());
    form->checkBoxMinimize->setChecked(flag("minimize"));
    form->checkBoxBlock->setChecked(flag("block"));
    form->checkBoxDebug->setChecked(flag("debug"));
    form->checkBoxLang->setChecked(flag("local"));
    form->checkBoxCiscoCompat->setChecked(flag("cisco_compat"));
    form->checkBoxDtls->setChecked(flag("no_dtls"));
    form->checkBoxNotifications->setChecked(flag("notifications"));
    applyPolicy();

    // A missing, empty or unknown theme means light; nothing is written back.
    const int index = themeIndex(config.value(QLatin1String("theme")).toString());
    form->comboBoxTheme->setCurrentIndex(index);
    ThemeManager::instance()->setTheme(ThemeManager::Theme(index));

    connect(form->checkBoxAutoLogin, &QAbstractButton::toggled, this,
            [this](bool on) { storeSwitch("autoLogin", on); });
    connect(form->checkBoxAutoStart, &QAbstractButton::toggled, this, &SettingsTab::onAutoStartToggled);
    connect(form->checkBoxMinimize, &QAbstractButton::toggled, this, [this](bool on) { storeSwitch("minimize", on); });
    connect(form->checkBoxBlock, &QAbstractButton::toggled, this, [this](bool on) { storeAgentSwitch("block", on); });
    connect(form->checkBoxDebug, &QAbstractButton::toggled, this, [this](bool on) { storeAgentSwitch("debug", on); });
    connect(form->checkBoxCiscoCompat, &QAbstractButton::toggled, this,
            [this](bool on) { storeAgentSwitch("cisco_compat", on); });
    connect(form->checkBoxDtls, &QAbstractButton::toggled, this, [this](bool on) { storeAgentSwitch("no_dtls", on); });
    // The translator is chosen at start-up: the language changes next time.
    connect(form->checkBoxLang, &QAbstractButton::toggled, this, [this](bool on) { storeSwitch("local", on); });
    connect(form->checkBoxNotifications, &QAbstractButton::toggled, this,
            [this](bool on) { storeSwitch("notifications", on); });
    connect(form->comboBoxTheme, &QComboBox::currentIndexChanged, this, &SettingsTab::onThemeSelected);
}

QWidget *SettingsTab::control(const QString &setting) const
{
    const std::pair<const char *, QWidget *> controls[] = {
        {"autoLogin", form->checkBoxAutoLogin},
        {"autoStart", form->checkBoxAutoStart},
        {"minimize", form->checkBoxMinimize},
        {"block", form->checkBoxBlock},
        {"debug", form->checkBoxDebug},
        {"cisco_compat", form->checkBoxCiscoCompat},
        {"no_dtls", form->checkBoxDtls},
        {"local", form->checkBoxLang},
        {"notifications", form->checkBoxNotifications},
        {"theme", form->comboBoxTheme},
    };
    for (const auto &[name, widget] : controls) {
        if (setting == QLatin1String(name))
            return widget;
    }
    return nullptr;
}

void SettingsTab::applyPolicy()
{
    // The settings store already holds the forced values; the controls show
    // them and cannot change them.
    const QJsonObject &forced = Policy::current().forcedSettings();
    for (auto it = forced.constBegin(); it != forced.constEnd(); ++it) {
        QWidget *widget = control(it.key());
        if (!widget)
            continue;
        widget->setEnabled(false);
        widget->setToolTip(Policy::setByAdministratorText());
    }
    // A tooltip is found only by hovering: the tab says it in words too.
    form->labelSettingPolicy->setVisible(!forced.isEmpty());
    // Start at log-on lives outside the settings: the entry follows the policy.
    const QJsonValue autoStart = forced.value(QLatin1String("autoStart"));
    if (autoStart.isBool()) {
        const bool wanted = autoStart.toBool();
        if (wanted != Autostart::isEnabled()) {
            if (wanted)
                Autostart::enable(QDir::toNativeSeparators(QCoreApplication::applicationFilePath()));
            else
                Autostart::disable();
        }
        form->checkBoxAutoStart->setChecked(wanted);
    }
}

void SettingsTab::storeSwitch(const char *key, bool on)
{
    configManager->config.insert(QLatin1String(key), on);
    configManager->saveConfig();
}

void SettingsTab::storeAgentSwitch(const char *key, bool on)
{
    configManager->config.insert(QLatin1String(key), on);
    // The agent configuration is built from the check boxes, so it is re-sent
    // after the new state is in place and before the file is written.
    if (configure)
        configure();
    configManager->saveConfig();
}

void SettingsTab::onAutoStartToggled(bool on)
{
    if (!on) {
        Autostart::disable();
        form->statusBar->setText(QStringLiteral("开机自启已禁用"));
        return;
    }
    const QString path = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    // The box stays checked on failure; the next start shows the real state.
    if (Autostart::enable(path))
        form->statusBar->setText(QStringLiteral("开机自启已启用: %1").arg(path));
    else
        form->statusBar->setText(QStringLiteral("开机自启设置失败"));
}

void SettingsTab::onThemeSelected(int index)
{
    const bool dark = index == ThemeManager::Dark;
    configManager->config.insert(QLatin1String("theme"), dark ? QStringLiteral("dark") : QStringLiteral("light"));
    ThemeManager::instance()->setTheme(dark ? ThemeManager::Dark : ThemeManager::Light);
    configManager->saveConfig();
}
