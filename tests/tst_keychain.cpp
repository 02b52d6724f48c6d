#include "keychainclass.h"
#include "secretstore.h"

#include <QSignalSpy>
#include <QTest>

namespace {
const int waitMs = 10000;
} // namespace

class TestKeyChain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void readMissingKey();
    void deleteRemovesEntry();
    void concurrentCalls();
    void destroyedBeforeJobFinishes();

private:
    QString uniqueKey(const QString &stem) const;
    bool write(KeyChainClass &keyChain, const QString &key, const QString &value);
};

QString TestKeyChain::uniqueKey(const QString &stem) const
{
    return QStringLiteral("tst-keychain-%1-%2").arg(stem).arg(QCoreApplication::applicationPid());
}

bool TestKeyChain::write(KeyChainClass &keyChain, const QString &key, const QString &value)
{
    QSignalSpy stored(&keyChain, &KeyChainClass::keyStored);
    keyChain.writeKey(key, value);
    return stored.wait(waitMs) && stored.first().first().toString() == key;
}

void TestKeyChain::initTestCase()
{
    secretStoreClearService();
    KeyChainClass keyChain;
    QSignalSpy errors(&keyChain, &KeyChainClass::error);
    QVERIFY2(write(keyChain, uniqueKey(QStringLiteral("probe")), QStringLiteral("probe")),
             qPrintable(QStringLiteral("No usable Secret Service in this D-Bus session (run the tests through "
                                       "scripts/test.sh): ")
                        + (errors.isEmpty() ? QStringLiteral("no answer") : errors.first().first().toString())));
    keyChain.deleteKey(uniqueKey(QStringLiteral("probe")));
}

void TestKeyChain::roundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("ascii") << QStringLiteral("s3cret!");
    QTest::newRow("non-ascii") << QStringLiteral("Pässwört 密码，🔑");
    QTest::newRow("spaces and quotes") << QStringLiteral(" a \"b\" 'c'\\ ");
}

void TestKeyChain::roundTrip()
{
    QFETCH(QString, value);
    const QString key = uniqueKey(QStringLiteral("roundtrip-") + QLatin1String(QTest::currentDataTag()));
    KeyChainClass keyChain;
    QSignalSpy errors(&keyChain, &KeyChainClass::error);

    QVERIFY(write(keyChain, key, value));
    QCOMPARE(secretStoreLookup(key), value);

    QSignalSpy restored(&keyChain, &KeyChainClass::keyRestored);
    keyChain.readKey(key);
    QVERIFY(restored.wait(waitMs));
    QCOMPARE(restored.size(), 1);
    QCOMPARE(restored.first().at(0).toString(), key);
    QCOMPARE(restored.first().at(1).toString(), value);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.value(0).value(0).toString()));

    keyChain.deleteKey(key);
}

void TestKeyChain::readMissingKey()
{
    KeyChainClass keyChain;
    QSignalSpy restored(&keyChain, &KeyChainClass::keyRestored);
    QSignalSpy errors(&keyChain, &KeyChainClass::error);

    keyChain.readKey(uniqueKey(QStringLiteral("never-written")));
    QVERIFY(errors.wait(waitMs));
    QCOMPARE(errors.size(), 1);
    const QString text = errors.first().first().toString();
    QVERIFY2(text.startsWith(QLatin1String("Read key failed: ")), qPrintable(text));
    QVERIFY(text.size() > QStringLiteral("Read key failed: ").size());
    QCOMPARE(restored.size(), 0);
}

void TestKeyChain::deleteRemovesEntry()
{
    const QString key = uniqueKey(QStringLiteral("delete"));
    KeyChainClass keyChain;
    QVERIFY(write(keyChain, key, QStringLiteral("gone soon")));

    QSignalSpy deleted(&keyChain, &KeyChainClass::keyDeleted);
    QSignalSpy errors(&keyChain, &KeyChainClass::error);
    keyChain.deleteKey(key);
    QVERIFY(deleted.wait(waitMs));
    QCOMPARE(deleted.first().first().toString(), key);
    QCOMPARE(errors.size(), 0);
    QCOMPARE(secretStoreLookup(key), QString());

    // A second delete reports whatever the platform store reports (the Secret
    // Service calls a missing entry a success), but always exactly one outcome.
    keyChain.deleteKey(key);
    QTRY_COMPARE_WITH_TIMEOUT(deleted.size() + errors.size(), 2, waitMs);
    if (errors.size() == 1)
        QVERIFY(errors.first().first().toString().startsWith(QLatin1String("Delete key failed: ")));

    // And the entry is really gone: reading it fails.
    QSignalSpy restored(&keyChain, &KeyChainClass::keyRestored);
    keyChain.readKey(key);
    QTRY_COMPARE_WITH_TIMEOUT(errors.size(), deleted.size() == 2 ? 1 : 2, waitMs);
    QCOMPARE(restored.size(), 0);
}

void TestKeyChain::concurrentCalls()
{
    // Several calls outstanding at once, as at start-up: every one is answered
    // with its own key and value.
    KeyChainClass keyChain;
    QSignalSpy stored(&keyChain, &KeyChainClass::keyStored);
    QSignalSpy restored(&keyChain, &KeyChainClass::keyRestored);
    const QStringList keys{uniqueKey(QStringLiteral("c1")), uniqueKey(QStringLiteral("c2")),
                           uniqueKey(QStringLiteral("c3"))};
    for (const QString &key : keys)
        keyChain.writeKey(key, QStringLiteral("value of ") + key);
    for (const QString &key : keys)
        keyChain.readKey(key);
    QTRY_COMPARE_WITH_TIMEOUT(restored.size(), keys.size(), waitMs);
    QCOMPARE(stored.size(), keys.size());

    QStringList restoredKeys;
    for (const QList<QVariant> &args : std::as_const(restored)) {
        QCOMPARE(args.at(1).toString(), QStringLiteral("value of ") + args.at(0).toString());
        restoredKeys << args.at(0).toString();
    }
    restoredKeys.sort();
    QCOMPARE(restoredKeys, keys);
    for (const QString &key : keys)
        keyChain.deleteKey(key);
}

void TestKeyChain::destroyedBeforeJobFinishes()
{
    // The jobs are not owned by the wrapper; one finishing after the wrapper is
    // gone must not touch it.
    const QString key = uniqueKey(QStringLiteral("orphan"));
    QTRY_COMPARE_WITH_TIMEOUT(KeyChainClass::jobsUnderWay(), 0, waitMs);
    auto *doomed = new KeyChainClass;
    doomed->writeKey(key, QStringLiteral("orphan"));
    doomed->readKey(key);
    delete doomed;
    // The orphaned jobs are still counted, and counted out once they end.
    QCOMPARE(KeyChainClass::jobsUnderWay(), 2);

    KeyChainClass survivor;
    QSignalSpy restored(&survivor, &KeyChainClass::keyRestored);
    survivor.readKey(key);
    QVERIFY(restored.wait(waitMs));
    QCOMPARE(restored.first().at(1).toString(), QStringLiteral("orphan"));
    survivor.deleteKey(key);
    QTRY_COMPARE_WITH_TIMEOUT(KeyChainClass::jobsUnderWay(), 0, waitMs);
}

QTEST_GUILESS_MAIN(TestKeyChain)
#include "tst_keychain.moc"
