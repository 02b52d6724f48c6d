#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>

// Points configLocation and tempLocation at fresh temporary directories and
// installs a fresh settings store, so no test touches the user's files.
// Failed-file messages are collected instead of opening modal boxes.
class TestEnv
{
public:
    TestEnv();
    ~TestEnv();

    QString configDir() const;
    QString tempDir() const;
    QString configFile(const QString &name) const;
    void writeConfigFile(const QString &name, const QByteArray &bytes) const;
    QByteArray readConfigFile(const QString &name) const;

    QStringList errors;

private:
    QTemporaryDir configRoot;
    QTemporaryDir tempRoot;
};

// Finds the modal box on screen within the timeout and closes it, keeping its text.
// Call before the code that opens the box. A watcher still waiting stops when
// the test's TestEnv goes, so it never reaches into the next test.
void closeNextModalBox(QString *text = nullptr, int timeoutMs = 5000);
