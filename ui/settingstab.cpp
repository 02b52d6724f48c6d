#include "settingstab.h"
#include "ui_orvalin.h"

#include "appglobals.h"
#include "autostart.h"
#include "configmanager.h"
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
    connect(form->comboBoxTheme, &QComboBox::currentIndexChanged, this, &SettingsTab::onThemeSelected);
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
