#include "testenv.h"

#include "appglobals.h"
#include "configmanager.h"
#include "errorsink.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTimer>

namespace {
// Parent of the watchers closeNextModalBox starts. A watcher still waiting
// when its test ends would close a box of the next test and write its text
// into a variable that no longer exists.
QObject *boxWatchers()
{
    static QObject *watchers = new QObject(qApp);
    return watchers;
}
} // namespace

TestEnv::TestEnv()
{
    QStandardPaths::setTestModeEnabled(true);
    configLocation = configRoot.path() + QStringLiteral("/Orvalin");
    QDir().mkpath(configLocation);
    tempLocation = tempRoot.path();
    delete configManager;
    configManager = new ConfigManager;
    setErrorSink([this](const QString &text) { errors.append(text); });
}

TestEnv::~TestEnv()
{
    qDeleteAll(boxWatchers()->children());
    setErrorSink({});
    delete configManager;
    configManager = nullptr;
    configLocation.clear();
    tempLocation.clear();
}

QString TestEnv::configDir() const
{
    return configLocation;
}

QString TestEnv::tempDir() const
{
    return tempLocation;
}

QString TestEnv::configFile(const QString &name) const
{
    return configLocation + QLatin1Char('/') + name;
}

void TestEnv::writeConfigFile(const QString &name, const QByteArray &bytes) const
{
    QFile file(configFile(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray TestEnv::readConfigFile(const QString &name) const
{
    QFile file(configFile(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void closeNextModalBox(QString *text, int timeoutMs)
{
    auto *timer = new QTimer(boxWatchers());
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (text)
                *text = box->text();
            box->done(QMessageBox::Ok);
            timer->deleteLater();
        } else if (elapsed.elapsed() > timeoutMs) {
            timer->deleteLater();
        }
    });
    timer->start(20);
}
