#include "keychainclass.h"

#include <QPointer>

#include <qt6keychain/keychain.h>

KeyChainClass::KeyChainClass(QObject *parent)
    : QObject(parent)
{
}

QString KeyChainClass::serviceName()
{
    return QStringLiteral("keychain.orvalin");
}

// The jobs have no parent and delete themselves after finishing, so a job can
// outlive this object; the handlers hold a guarded pointer and stay quiet then.

void KeyChainClass::readKey(const QString &key)
{
    auto *job = new QKeychain::ReadPasswordJob(serviceName(), nullptr);
    job->setKey(key);
    QPointer<KeyChainClass> self(this);
    connect(
        job, &QKeychain::Job::finished, job,
        [job, self, key](QKeychain::Job *) {
            if (!self)
                return;
            if (job->error() != QKeychain::NoError)
                emit self->error(tr("Read key failed: %1").arg(job->errorString()));
            else
                emit self->keyRestored(key, job->textData());
        },
        Qt::DirectConnection);
    job->start();
}

void KeyChainClass::writeKey(const QString &key, const QString &value)
{
    auto *job = new QKeychain::WritePasswordJob(serviceName(), nullptr);
    job->setKey(key);
    QPointer<KeyChainClass> self(this);
    connect(
        job, &QKeychain::Job::finished, job,
        [job, self, key](QKeychain::Job *) {
            if (!self)
                return;
            if (job->error() != QKeychain::NoError)
                emit self->error(tr("Write key failed: %1").arg(job->errorString()));
            else
                emit self->keyStored(key);
        },
        Qt::DirectConnection);
    job->setTextData(value);
    job->start();
}

void KeyChainClass::deleteKey(const QString &key)
{
    auto *job = new QKeychain::DeletePasswordJob(serviceName(), nullptr);
    job->setKey(key);
    QPointer<KeyChainClass> self(this);
    connect(
        job, &QKeychain::Job::finished, job,
        [job, self, key](QKeychain::Job *) {
            if (!self)
                return;
            if (job->error() != QKeychain::NoError)
                emit self->error(tr("Delete key failed: %1").arg(job->errorString()));
            else
                emit self->keyDeleted(key);
        },
        Qt::DirectConnection);
    job->start();
}
