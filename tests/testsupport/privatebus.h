#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

// A D-Bus session bus of its own, for child processes that must meet a
// credential store other than the test session's: none at all (the bus
// starts no services), or a gnome-keyring of its own that can be locked or
// frozen. Each process connects to its session bus once, so the code under
// test runs in a child started with environment().
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();

    bool isValid() const { return !busAddress.isEmpty(); }
    QString address() const { return busAddress; }
    // The current environment with this bus as the session bus.
    QProcessEnvironment environment() const;

    // Starts a gnome-keyring with an unlocked login collection on the bus
    // and waits until it answers.
    bool startKeyring();
    // Locks the collection: the keyring then turns every read and write
    // down, as no prompt can be shown to unlock it.
    bool lockKeyring();
    // Stops the keyring's process, so calls to it are never answered;
    // undone by the destructor.
    bool freezeKeyring();
    // Lets a frozen keyring run again; the calls made meanwhile are answered.
    bool thawKeyring();
    // Ends the keyring and starts a fresh, unlocked one with no entries.
    bool restartKeyring();

    // secret-tool against this bus; the value of the entry, empty when none.
    QString lookup(const QString &service, const QString &key) const;
    // Stores a value as QtKeychain files it, so the client reads it back.
    bool store(const QString &service, const QString &key, const QString &value) const;

private:
    QByteArray runTool(const QStringList &arguments, const QByteArray &input = "probe") const;

    QTemporaryDir dir;
    QProcess daemon;
    QProcess keyring;
    QString busAddress;
    bool frozen = false;
    int keyrings = 0;
};

// Ends a helper process of a test: asked to stop first, killed after 3 s.
void stopProcess(QProcess &process);
