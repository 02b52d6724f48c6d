#include "authenticode.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

// Authenticode signatures checked with OpenSSL, on PE images generated here
// and signed by osslsigncode with a throw-away CA, and on one real-world
// signed executable fetched by scripts/test.sh.
class TstAuthenticode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void signer_data();
    void signer();
    void hostileHeaders_data();
    void hostileHeaders();
    void everyTruncationIsRejected();
    void realWorldSignature();

private:
    QString fixture(const QString &name) const { return m_dir.filePath(name); }
    QByteArray readFixture(const QString &name) const;
    Authenticode::TrustAnchors testAnchors() const;

    QTemporaryDir m_dir;
};

namespace {

// File offsets in the images below: the CheckSum field of the optional
// header (64 bytes into it, the optional header starting at 0x58), and the
// first byte of the code section.
constexpr int ChecksumOffset = 0x58 + 64;
constexpr int CodeOffset = 0x200;
constexpr int PeOffset = 0x40;

void put16(QByteArray &image, int offset, quint16 value) { qToLittleEndian(value, image.data() + offset); }
void put32(QByteArray &image, int offset, quint32 value) { qToLittleEndian(value, image.data() + offset); }
void put64(QByteArray &image, int offset, quint64 value) { qToLittleEndian(value, image.data() + offset); }

// A minimal valid executable: headers, and one .text section holding a
// "ret" followed by filler, 0x400 bytes in all.
QByteArray minimalPe(bool plus)
{
    QByteArray image(0x400, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3c, PeOffset);
    image.replace(PeOffset, 4, QByteArray("PE\0\0", 4));

    const int coff = PeOffset + 4;
    const int optionalSize = plus ? 0xf0 : 0xe0;
    put16(image, coff + 0, plus ? 0x8664 : 0x14c);
    put16(image, coff + 2, 1); // sections
    put16(image, coff + 16, optionalSize);
    put16(image, coff + 18, plus ? 0x0022 : 0x0102);

    const int opt = coff + 20;
    put16(image, opt + 0, plus ? 0x20b : 0x10b);
    image[opt + 2] = 14; // linker version
    put32(image, opt + 4, 0x200); // size of code
    put32(image, opt + 16, 0x1000); // entry point
    put32(image, opt + 20, 0x1000); // base of code
    if (plus) {
        put64(image, opt + 24, 0x140000000ull);
    } else {
        put32(image, opt + 24, 0x2000); // base of data
        put32(image, opt + 28, 0x400000);
    }
    put32(image, opt + 32, 0x1000); // section alignment
    put32(image, opt + 36, 0x200); // file alignment
    put16(image, opt + 40, 6); // OS version
    put16(image, opt + 48, 6); // subsystem version
    put32(image, opt + 56, 0x2000); // size of image
    put32(image, opt + 60, 0x200); // size of headers
    put16(image, opt + 68, 3); // console subsystem
    put16(image, opt + 70, 0x8160);
    const int stack = 72;
    if (plus) {
        put64(image, opt + stack, 0x100000);
        put64(image, opt + stack + 8, 0x1000);
        put64(image, opt + stack + 16, 0x100000);
        put64(image, opt + stack + 24, 0x1000);
        put32(image, opt + 108, 16);
    } else {
        put32(image, opt + stack, 0x100000);
        put32(image, opt + stack + 4, 0x1000);
        put32(image, opt + stack + 8, 0x100000);
        put32(image, opt + stack + 12, 0x1000);
        put32(image, opt + 92, 16);
    }
    Q_ASSERT(opt + 64 == ChecksumOffset);

    const int section = opt + optionalSize;
    image.replace(section, 5, ".text");
    put32(image, section + 8, 0x200); // virtual size
    put32(image, section + 12, 0x1000); // virtual address
    put32(image, section + 16, 0x200); // raw size
    put32(image, section + 20, CodeOffset);
    put32(image, section + 36, 0x60000020); // code, execute, read

    image[CodeOffset] = char(0xc3);
    for (int i = CodeOffset + 1; i < image.size(); ++i)
        image[i] = char(i * 7);
    return image;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Where the signature's certificate table starts, read from the
// certificate-table directory entry of a PE32+ image.
int certTableOffset(const QByteArray &image)
{
    return qFromLittleEndian<quint32>(image.constData() + 0x58 + 112 + 4 * 8);
}

enum class Change { None, FlipCode, FlipChecksum, TruncateToHalf, TruncateHeaders };

} // namespace

Q_DECLARE_METATYPE(Change)

QByteArray TstAuthenticode::readFixture(const QString &name) const
{
    QFile file(fixture(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Authenticode::TrustAnchors TstAuthenticode::testAnchors() const
{
    Authenticode::TrustAnchors anchors;
    anchors.extraPem = readFixture(QStringLiteral("ca.pem"));
    return anchors;
}

void TstAuthenticode::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(writeFile(fixture(QStringLiteral("unsigned64.exe")), minimalPe(true)));
    QVERIFY(writeFile(fixture(QStringLiteral("unsigned32.exe")), minimalPe(false)));

    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {QStringLiteral(AUTHENTICODE_FIXTURE_SCRIPT), m_dir.path()});
    QVERIFY(script.waitForFinished(120000));
    QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0,
             script.readAll().constData());
    QVERIFY(!testAnchors().extraPem.isEmpty());
}

void TstAuthenticode::signer_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("trustTestCa");
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("expected");

    const QString publisher = QStringLiteral("Orvalin Test Publisher");
    QTest::newRow("PE32+") << "signed64.exe" << true << Change::None << publisher;
    QTest::newRow("PE32") << "signed32.exe" << true << Change::None << publisher;
    QTest::newRow("SHA-1 image digest") << "sha1.exe" << true << Change::None << publisher;
    QTest::newRow("no CN gives the OU") << "nocn.exe" << true << Change::None << "Orvalin Signing Unit";
    QTest::newRow("checksum changed") << "signed64.exe" << true << Change::FlipChecksum << publisher;
    QTest::newRow("code changed") << "signed64.exe" << true << Change::FlipCode << QString();
    QTest::newRow("PE32 code changed") << "signed32.exe" << true << Change::FlipCode << QString();
    QTest::newRow("CA not trusted") << "signed64.exe" << false << Change::None << QString();
    QTest::newRow("not a code-signing certificate") << "serverauth.exe" << true << Change::None << QString();
    QTest::newRow("expired, no timestamp") << "expired.exe" << true << Change::None << QString();
    QTest::newRow("expired, timestamped while valid")
        << "expired-stamped.exe" << true << Change::None << "Orvalin Former Publisher";
    QTest::newRow("expired, timestamped after expiry")
        << "expired-stamped-late.exe" << true << Change::None << QString();
    QTest::newRow("timestamped, code changed") << "expired-stamped.exe" << true << Change::FlipCode << QString();
    QTest::newRow("unsigned PE32+") << "unsigned64.exe" << true << Change::None << QString();
    QTest::newRow("unsigned PE32") << "unsigned32.exe" << true << Change::None << QString();
    QTest::newRow("truncated in the signature") << "signed64.exe" << true << Change::TruncateToHalf << QString();
    QTest::newRow("truncated in the headers") << "signed64.exe" << true << Change::TruncateHeaders << QString();
    QTest::newRow("ELF") << QString() << true << Change::None << QString();
}

// Each case is cross-checked with osslsigncode's own verifier, so the
// expectations are not just this verifier's opinion.
void TstAuthenticode::signer()
{
    QFETCH(QString, file);
    QFETCH(bool, trustTestCa);
    QFETCH(Change, change);
    QFETCH(QString, expected);

    QByteArray bytes;
    if (file.isEmpty()) {
        QFile self(QCoreApplication::applicationFilePath()); // an ELF executable
        QVERIFY(self.open(QIODevice::ReadOnly));
        bytes = self.read(256 * 1024);
    } else {
        bytes = readFixture(file);
    }
    QVERIFY(bytes.size() > CodeOffset + 16);
    switch (change) {
    case Change::None:
        break;
    case Change::FlipCode:
        bytes[CodeOffset + 16] = char(bytes[CodeOffset + 16] ^ 0x01);
        break;
    case Change::FlipChecksum:
        bytes[ChecksumOffset + 1] = char(bytes[ChecksumOffset + 1] ^ 0x01);
        break;
    case Change::TruncateToHalf:
        bytes.truncate(certTableOffset(bytes) + (bytes.size() - certTableOffset(bytes)) / 2);
        break;
    case Change::TruncateHeaders:
        bytes.truncate(0x100);
        break;
    }
    const QString path = m_dir.filePath(QStringLiteral("case.bin"));
    QVERIFY(writeFile(path, bytes));

    Authenticode::TrustAnchors anchors;
    if (trustTestCa)
        anchors = testAnchors();
    QCOMPARE(Authenticode::signerName(path, anchors), expected);
    QCOMPARE(Authenticode::signerName(Authenticode::BufferSource(bytes), anchors), expected);

    QStringList arguments = {QStringLiteral("verify"), QStringLiteral("-ignore-crl"), QStringLiteral("-in"), path};
    if (trustTestCa)
        arguments << QStringLiteral("-CAfile") << fixture(QStringLiteral("ca.pem")) << QStringLiteral("-TSA-CAfile")
                  << fixture(QStringLiteral("ca.pem"));
    QProcess osslsigncode;
    osslsigncode.setProcessChannelMode(QProcess::MergedChannels);
    osslsigncode.start(QStringLiteral("osslsigncode"), arguments);
    QVERIFY(osslsigncode.waitForFinished(60000));
    QVERIFY2((osslsigncode.exitCode() == 0) == !expected.isEmpty(), osslsigncode.readAll().constData());
}

void TstAuthenticode::hostileHeaders_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<quint32>("value");

    const int opt = 0x58;
    const int certEntry = opt + 112 + 4 * 8;
    QTest::newRow("PE header beyond the file") << 0x3c << 0xfffffff0u;
    QTest::newRow("PE header at the file's end") << 0x3c << 0x4fcu;
    QTest::newRow("optional header larger than the file") << PeOffset + 4 + 16 << 0x0000fff0u;
    QTest::newRow("optional header without the directory") << PeOffset + 4 + 16 << 0x00000070u;
    QTest::newRow("unknown optional-header magic") << opt << 0x00000107u;
    QTest::newRow("too few directories") << opt + 108 << 4u;
    QTest::newRow("table offset wraps") << certEntry << 0xfffffff8u;
    QTest::newRow("table size wraps") << certEntry + 4 << 0xfffffff8u;
    QTest::newRow("table inside the headers") << certEntry << 0x40u;
    QTest::newRow("table smaller than its header") << certEntry + 4 << 4u;
    QTest::newRow("entry longer than the table") << -1 << 0x7fffffffu;
    QTest::newRow("entry shorter than its header") << -1 << 3u;
    QTest::newRow("entry of another type") << -2 << 0x00010200u;
}

// Untrusted input: every offset and length that the file states is checked
// before it is used. Negative offsets address the certificate table's entry
// header (-1 its length, -2 its revision and type).
void TstAuthenticode::hostileHeaders()
{
    QFETCH(int, offset);
    QFETCH(quint32, value);

    QByteArray bytes = readFixture(QStringLiteral("signed64.exe"));
    QCOMPARE(Authenticode::signerName(Authenticode::BufferSource(bytes), testAnchors()),
             QStringLiteral("Orvalin Test Publisher"));
    if (offset < 0)
        offset = certTableOffset(bytes) + (offset == -1 ? 0 : 4);
    put32(bytes, offset, value);
    QCOMPARE(Authenticode::signerName(Authenticode::BufferSource(bytes), testAnchors()), QString());
}

// Every prefix of a signed file is refused, whichever structure the cut
// falls in; with bounds missing anywhere this reads past the buffer.
void TstAuthenticode::everyTruncationIsRejected()
{
    const QByteArray bytes = readFixture(QStringLiteral("signed32.exe"));
    const Authenticode::TrustAnchors anchors = testAnchors();
    QVERIFY(!Authenticode::signerName(Authenticode::BufferSource(bytes), anchors).isEmpty());
    for (qsizetype length = 0; length < bytes.size(); ++length) {
        if (!Authenticode::signerName(Authenticode::BufferSource(bytes.first(length)), anchors).isEmpty())
            QFAIL(qPrintable(QStringLiteral("a prefix of %1 bytes verified").arg(length)));
    }
}

// A publisher's real signature through a public chain: the signing
// certificate expired in 2020, the RFC 3161 timestamp proves it signed in
// 2019, and only the system store vouches for the root.
void TstAuthenticode::realWorldSignature()
{
    const QString path = qEnvironmentVariable("ORVALIN_SNORETOAST_EXE");
    QVERIFY2(!path.isEmpty() && QFile::exists(path),
             "snoretoast-x64.exe is missing: scripts/test.sh fetches it with "
             "`npm pack node-notifier@10.0.1` and passes its path in ORVALIN_SNORETOAST_EXE; "
             "the fetch failed or the test was run outside scripts/test.sh");

    QCOMPARE(Authenticode::signerName(path), QStringLiteral("K Desktop Environment e.V."));

    Authenticode::TrustAnchors noSystemStore;
    noSystemStore.systemStore = false;
    QCOMPARE(Authenticode::signerName(path, noSystemStore), QString());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    const qsizetype middle = bytes.size() / 2;
    bytes[middle] = char(bytes[middle] ^ 0x01);
    const QString changed = m_dir.filePath(QStringLiteral("snoretoast-changed.exe"));
    QVERIFY(writeFile(changed, bytes));
    QCOMPARE(Authenticode::signerName(changed), QString());
}

QTEST_GUILESS_MAIN(TstAuthenticode)
#include "tst_authenticode.moc"
