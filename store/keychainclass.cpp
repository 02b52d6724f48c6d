#include "keychainclass.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {
int jobsAlive = 0;

// Starts a job for the key and reports its end: onSuccess, or the failure text
// with the job's own reason. The jobs have no parent and delete themselves after
// finishing, so a job can outlive the wrapper; the handler holds a guarded
// pointer and stays quiet then.
template<typename Job, typename OnSuccess, typename OnFailure>
void startJob(KeyChainClass *wrapper, Job *job, const QString &key, const QString &failureText, OnSuccess onSuccess,
              OnFailure onFailure)
{
    job->setKey(key);
    ++jobsAlive;
    QObject::connect(job, &QObject::destroyed, [] { --jobsAlive; });
    QPointer<KeyChainClass> self(wrapper);
    QObject::connect(
        job, &QKeychain::Job::finished, job,
        [job, self, failureText, onSuccess, onFailure](QKeychain::Job *) {
            if (!self)
                return;
            if (job->error() != QKeychain::NoError) {
                emit self->error(failureText.arg(job->errorString()));
                if (self)
                    onFailure(self.data());
            } else {
                onSuccess(self.data(), job);
            }
        },
        Qt::DirectConnection);
    job->start();
}
} // namespace

KeyChainClass::KeyChainClass(QObject *parent)
    : KeyChainClass(serviceName(), parent)
{
}

KeyChainClass::KeyChainClass(const QString &service, QObject *parent)
    : QObject(parent)
    , m_service(service)
{
}

int KeyChainClass::jobsUnderWay()
{
    return jobsAlive;
}

bool KeyChainClass::waitForJobs(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (jobsAlive > 0 && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(qMin<qint64>(20, qMax<qint64>(1, deadline.remainingTime())), &loop, &QEventLoop::quit);
        loop.exec();
        // A job counts as ended once deleted, which outside a running loop
        // needs a push.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return jobsAlive == 0;
}

QString KeyChainClass::serviceName()
{
    return QStringLiteral("keychain.orvalin");
}

void KeyChainClass::readKey(const QString &key)
{
    startJob(
        this, new QKeychain::ReadPasswordJob(m_service, nullptr), key, tr("Read key failed: %1"),
        [key](KeyChainClass *self, QKeychain::ReadPasswordJob *job) { emit self->keyRestored(key, job->textData()); },
        [key](KeyChainClass *self) { emit self->readFailed(key); });
}

void KeyChainClass::writeKey(const QString &key, const QString &value)
{
    auto *job = new QKeychain::WritePasswordJob(m_service, nullptr);
    job->setTextData(value);
    startJob(
        this, job, key, tr("Write key failed: %1"),
        [key](KeyChainClass *self, QKeychain::WritePasswordJob *) { emit self->keyStored(key); },
        [key](KeyChainClass *self) { emit self->writeFailed(key); });
}

void KeyChainClass::deleteKey(const QString &key)
{
    startJob(
        this, new QKeychain::DeletePasswordJob(m_service, nullptr), key, tr("Delete key failed: %1"),
        [key](KeyChainClass *self, QKeychain::DeletePasswordJob *) { emit self->keyDeleted(key); },
        [](KeyChainClass *) {});
}
