#include "authenticode.h"
#include "opensslptr.h"
#include "pefixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentMap>
#include <QtEndian>
#include <QtTest>

#include <openssl/pem.h>

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
    void timestampFromAnotherSignature();
    void counterSignature_data();
    void counterSignature();
    void realWorldSignature();
    void checksOnManyThreadsShareOneStore();

private:
    QString fixture(const QString &name) const { return m_dir.filePath(name); }
    QByteArray readFixture(const QString &name) const;
    Authenticode::TrustAnchors testAnchors() const;
    bool osslsigncodeAccepts(const QString &path, bool trustTestCa, QByteArray *output) const;

    QTemporaryDir m_dir;
};

namespace {

using PeFixture::certEntryOffset;
using PeFixture::certTableOffset;
using PeFixture::ChecksumOffset;
using PeFixture::CodeOffset;
using PeFixture::PeOffset;
using PeFixture::writeFile;

void put16(QByteArray &image, int offset, quint16 value)
{
    qToLittleEndian(value, image.data() + offset);
}
void put32(QByteArray &image, int offset, quint32 value)
{
    qToLittleEndian(value, image.data() + offset);
}

OpenSsl::Pkcs7 signatureOf(const QByteArray &image)
{
    const int table = certTableOffset(image);
    const auto *der = reinterpret_cast<const unsigned char *>(image.constData() + table + 8);
    return OpenSsl::Pkcs7(d2i_PKCS7(nullptr, &der, qFromLittleEndian<quint32>(image.constData() + table) - 8));
}

// The image with its certificate table replaced by one holding `p7`.
QByteArray withSignature(QByteArray image, PKCS7 *p7)
{
    image.truncate(certTableOffset(image));
    QByteArray der(i2d_PKCS7(p7, nullptr), '\0');
    auto *out = reinterpret_cast<unsigned char *>(der.data());
    i2d_PKCS7(p7, &out);
    QByteArray table(8, '\0');
    put32(table, 0, quint32(8 + der.size()));
    put16(table, 4, 0x0200);
    put16(table, 6, 0x0002);
    table += der;
    table.append((8 - table.size() % 8) % 8, '\0');
    put32(image, certEntryOffset(image) + 4, quint32(table.size()));
    return image + table;
}

PKCS7_SIGNER_INFO *firstSigner(PKCS7 *p7)
{
    return sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0);
}

enum class Change {
    None,
    FlipCode,
    FlipChecksum,
    TruncateToHalf,
    TruncateHeaders,
    UnknownDigestAlgorithm,
    MoveTableIntoCode,
    MoveTableIntoHeaders,
    JunkAfterTheEntry,
    ZerosPastTheAlignment,
    JunkAfterTheSignature,
};

// What osslsigncode's own verifier says of a case: the same as ours, or it
// accepts what we refuse because it does not apply that rule.
enum class Osslsigncode { Agrees, IgnoresLifetimeSigning, IgnoresBytesAfterTheSignature };

// The signed image rebuilt with its certificate table at `offset`, and the
// bytes that stood from there on behind it: the image digest, which skips
// the table, stays the same, while the loader now maps the table (or
// whatever an attacker puts there) where the code was.
QByteArray withTableMovedTo(const QByteArray &image, int offset)
{
    const int table = certTableOffset(image);
    const QByteArray certificates = image.mid(table);
    QByteArray moved = image.left(offset) + certificates + image.mid(offset, table - offset);
    put32(moved, certEntryOffset(moved), quint32(offset));
    return moved;
}

// The certificate table made `extra` bytes longer, the bytes appended at its end.
QByteArray withTableExtended(QByteArray image, const QByteArray &extra)
{
    const int entry = certEntryOffset(image);
    put32(image, entry + 4, qFromLittleEndian<quint32>(image.constData() + entry + 4) + quint32(extra.size()));
    return image + extra;
}

} // namespace

Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(Osslsigncode)

QByteArray TstAuthenticode::readFixture(const QString &name) const
{
    return PeFixture::readFile(fixture(name));
}

Authenticode::TrustAnchors TstAuthenticode::testAnchors() const
{
    Authenticode::TrustAnchors anchors;
    anchors.extraPem = readFixture(QStringLiteral("ca.pem"));
    return anchors;
}

bool TstAuthenticode::osslsigncodeAccepts(const QString &path, bool trustTestCa, QByteArray *output) const
{
    QStringList arguments = {QStringLiteral("verify"), QStringLiteral("-ignore-crl"), QStringLiteral("-in"), path};
    if (trustTestCa)
        arguments << QStringLiteral("-CAfile") << fixture(QStringLiteral("ca.pem")) << QStringLiteral("-TSA-CAfile")
                  << fixture(QStringLiteral("ca.pem"));
    QProcess osslsigncode;
    osslsigncode.setProcessChannelMode(QProcess::MergedChannels);
    osslsigncode.start(QStringLiteral("osslsigncode"), arguments);
    const bool finished = osslsigncode.waitForFinished(60000);
    *output = osslsigncode.readAll();
    return finished && osslsigncode.exitStatus() == QProcess::NormalExit && osslsigncode.exitCode() == 0;
}

void TstAuthenticode::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(writeFile(fixture(QStringLiteral("unsigned64.exe")), PeFixture::minimalImage(true)));
    QVERIFY(writeFile(fixture(QStringLiteral("unsigned32.exe")), PeFixture::minimalImage(false)));

    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral("bash"), {QStringLiteral(AUTHENTICODE_FIXTURE_SCRIPT), m_dir.path()});
    QVERIFY(script.waitForFinished(120000));
    QVERIFY2(script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0, script.readAll().constData());
    QVERIFY(!testAnchors().extraPem.isEmpty());
}

void TstAuthenticode::signer_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("trustTestCa");
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<Osslsigncode>("osslsigncode");

    const QString publisher = QStringLiteral("Orvalin Test Publisher");
    const auto agrees = Osslsigncode::Agrees;
    QTest::newRow("PE32+") << "signed64.exe" << true << Change::None << publisher << agrees;
    QTest::newRow("PE32") << "signed32.exe" << true << Change::None << publisher << agrees;
    QTest::newRow("SHA-1 image digest") << "sha1.exe" << true << Change::None << publisher << agrees;
    QTest::newRow("no CN gives the OU") << "nocn.exe" << true << Change::None << "Orvalin Signing Unit" << agrees;
    QTest::newRow("checksum changed") << "signed64.exe" << true << Change::FlipChecksum << publisher << agrees;
    QTest::newRow("code changed") << "signed64.exe" << true << Change::FlipCode << QString() << agrees;
    QTest::newRow("PE32 code changed") << "signed32.exe" << true << Change::FlipCode << QString() << agrees;
    QTest::newRow("unknown digest algorithm")
        << "signed64.exe" << true << Change::UnknownDigestAlgorithm << QString() << agrees;
    QTest::newRow("CA not trusted") << "signed64.exe" << false << Change::None << QString() << agrees;
    QTest::newRow("not a code-signing certificate") << "serverauth.exe" << true << Change::None << QString() << agrees;
    QTest::newRow("any purpose is not code signing") << "anyeku.exe" << true << Change::None << QString() << agrees;
    QTest::newRow("no purposes named: any") << "noeku.exe" << true << Change::None << "Orvalin No EKU" << agrees;
    QTest::newRow("expired, no timestamp") << "expired.exe" << true << Change::None << QString() << agrees;
    QTest::newRow("expired, timestamped while valid")
        << "expired-stamped.exe" << true << Change::None << "Orvalin Former Publisher" << agrees;
    QTest::newRow("expired, timestamped after expiry")
        << "expired-stamped-late.exe" << true << Change::None << QString() << agrees;
    QTest::newRow("lifetime signing, expired, timestamped while valid")
        << "lifetime-stamped.exe" << true << Change::None << QString() << Osslsigncode::IgnoresLifetimeSigning;
    QTest::newRow("lifetime signing, valid")
        << "lifetime-valid.exe" << true << Change::None << "Orvalin Lifetime Publisher" << agrees;
    QTest::newRow("timestamped, code changed")
        << "expired-stamped.exe" << true << Change::FlipCode << QString() << agrees;
    QTest::newRow("table moved in front of the code")
        << "signed64.exe" << true << Change::MoveTableIntoCode << QString() << agrees;
    QTest::newRow("table moved into the headers' padding")
        << "signed64.exe" << true << Change::MoveTableIntoHeaders << QString() << agrees;
    QTest::newRow("table longer than its entry")
        << "signed64.exe" << true << Change::JunkAfterTheEntry << QString() << agrees;
    QTest::newRow("zeros past the entry's alignment")
        << "signed64.exe" << true << Change::ZerosPastTheAlignment << QString() << agrees;
    QTest::newRow("bytes behind the signature in its entry")
        << "signed64.exe" << true << Change::JunkAfterTheSignature << QString()
        << Osslsigncode::IgnoresBytesAfterTheSignature;
    QTest::newRow("unsigned PE32+") << "unsigned64.exe" << true << Change::None << QString() << agrees;
    QTest::newRow("unsigned PE32") << "unsigned32.exe" << true << Change::None << QString() << agrees;
    QTest::newRow("truncated in the signature")
        << "signed64.exe" << true << Change::TruncateToHalf << QString() << agrees;
    QTest::newRow("truncated in the headers")
        << "signed64.exe" << true << Change::TruncateHeaders << QString() << agrees;
    QTest::newRow("ELF") << QString() << true << Change::None << QString() << agrees;
}

// Each case is cross-checked with osslsigncode's own verifier, so the
// expectations are not just this verifier's opinion.
void TstAuthenticode::signer()
{
    QFETCH(QString, file);
    QFETCH(bool, trustTestCa);
    QFETCH(Change, change);
    QFETCH(QString, expected);
    QFETCH(Osslsigncode, osslsigncode);

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
    case Change::UnknownDigestAlgorithm: {
        // The SignedData's list of digest algorithms comes first in the
        // signature: make its SHA-256 an unassigned arc.
        const QByteArray sha256 = QByteArray::fromHex("0609608648016503040201");
        const qsizetype at = bytes.indexOf(sha256, certTableOffset(bytes));
        QVERIFY(at > 0);
        bytes[at + sha256.size() - 1] = char(0x7f);
        break;
    }
    case Change::MoveTableIntoCode:
        bytes = withTableMovedTo(bytes, CodeOffset);
        break;
    case Change::MoveTableIntoHeaders:
        // Right behind the PE32+ optional header and the one section header,
        // inside SizeOfHeaders.
        bytes = withTableMovedTo(bytes, PeFixture::OptionalHeaderOffset + 0xf0 + 40);
        break;
    case Change::JunkAfterTheEntry:
        bytes = withTableExtended(bytes, QByteArray("\x90\x90\x90\x90\xcc\xcc\xcc\xc3", 8));
        break;
    case Change::ZerosPastTheAlignment:
        bytes = withTableExtended(bytes, QByteArray(8, '\0'));
        break;
    case Change::JunkAfterTheSignature: {
        // The entry and the table grow together: the table stays exactly
        // filled, but the entry carries bytes behind its DER signature.
        const int table = certTableOffset(bytes);
        put32(bytes, table, qFromLittleEndian<quint32>(bytes.constData() + table) + 8);
        bytes = withTableExtended(bytes, QByteArray("\xcc\xcc\xcc\xcc\xcc\xcc\xcc\xc3", 8));
        break;
    }
    }
    const QString path = m_dir.filePath(QStringLiteral("case.bin"));
    QVERIFY(writeFile(path, bytes));

    Authenticode::TrustAnchors anchors;
    if (trustTestCa)
        anchors = testAnchors();
    QCOMPARE(Authenticode::signerName(path, anchors), expected);
    QCOMPARE(Authenticode::signerName(Authenticode::BufferSource(bytes), anchors), expected);

    QByteArray output;
    const bool accepted = osslsigncodeAccepts(path, trustTestCa, &output);
    if (osslsigncode == Osslsigncode::Agrees)
        QVERIFY2(accepted == !expected.isEmpty(), output.constData());
    else
        QVERIFY2(accepted && expected.isEmpty(), output.constData());
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

// A timestamp vouches for one signature value only: a valid token taken
// from another signature of the same publisher proves nothing here.
void TstAuthenticode::timestampFromAnotherSignature()
{
    const OpenSsl::Pkcs7 donor = signatureOf(readFixture(QStringLiteral("expired32-stamped.exe")));
    const QByteArray image = readFixture(QStringLiteral("expired.exe"));
    const OpenSsl::Pkcs7 p7 = signatureOf(image);
    QVERIFY(donor && p7);
    QVERIFY(PKCS7_set_attributes(firstSigner(p7.get()), firstSigner(donor.get())->unauth_attr) == 1);

    const QString path = m_dir.filePath(QStringLiteral("transplanted.exe"));
    QVERIFY(writeFile(path, withSignature(image, p7.get())));
    QCOMPARE(Authenticode::signerName(path, testAnchors()), QString());
    QByteArray output;
    QVERIFY2(!osslsigncodeAccepts(path, true, &output), output.constData());

    // The same token on the signature it was made for does verify.
    const QString own = m_dir.filePath(QStringLiteral("own.exe"));
    QVERIFY(writeFile(own, withSignature(readFixture(QStringLiteral("expired32-stamped.exe")), donor.get())));
    QCOMPARE(Authenticode::signerName(own, testAnchors()), QStringLiteral("Orvalin Former Publisher"));
}

void TstAuthenticode::counterSignature_data()
{
    QTest::addColumn<QString>("counterSigner");
    QTest::addColumn<qint64>("signedAt");
    QTest::addColumn<bool>("overOwnSignature");
    QTest::addColumn<QString>("expected");

    const qint64 whileValid = 1590969600;  // 2020-06-01, the certificate expired on 2021-01-01
    const qint64 afterExpiry = 1640995200; // 2022-01-01
    QTest::newRow("while valid") << "tsa" << whileValid << true << "Orvalin Former Publisher";
    QTest::newRow("after expiry") << "tsa" << afterExpiry << true << QString();
    QTest::newRow("over another signature") << "tsa" << whileValid << false << QString();
    QTest::newRow("counter-signer is no TSA") << "publisher" << whileValid << true << QString();
}

// The older Authenticode timestamp: a PKCS#9 counter-signature whose signing
// time moves the chain check, made here with OpenSSL as a timestamping
// server would.
void TstAuthenticode::counterSignature()
{
    QFETCH(QString, counterSigner);
    QFETCH(qint64, signedAt);
    QFETCH(bool, overOwnSignature);
    QFETCH(QString, expected);

    const QByteArray certPem = readFixture(counterSigner + QStringLiteral(".pem"));
    const QByteArray keyPem = readFixture(counterSigner + QStringLiteral(".key"));
    const OpenSsl::Bio certBio(BIO_new_mem_buf(certPem.constData(), int(certPem.size())));
    const OpenSsl::Bio keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    const OpenSsl::Cert cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    const std::unique_ptr<EVP_PKEY, OpenSsl::FreeWith<EVP_PKEY_free>> key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    QVERIFY(cert && key);

    const QByteArray image = readFixture(QStringLiteral("expired.exe"));
    const OpenSsl::Pkcs7 p7 = signatureOf(image);
    QVERIFY(p7);
    PKCS7_SIGNER_INFO *signer = firstSigner(p7.get());
    const QByteArray signature
        = overOwnSignature ? QByteArray(reinterpret_cast<const char *>(ASN1_STRING_get0_data(signer->enc_digest)),
                                        ASN1_STRING_length(signer->enc_digest))
                           : QByteArray("some other signature value");

    const OpenSsl::SignerInfo counter(PKCS7_SIGNER_INFO_new());
    QVERIFY(PKCS7_SIGNER_INFO_set(counter.get(), cert.get(), key.get(), EVP_sha256()) == 1);
    QVERIFY(PKCS7_add_signed_attribute(counter.get(), NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data))
            == 1);
    QVERIFY(PKCS7_add_signed_attribute(counter.get(), NID_pkcs9_signingTime, V_ASN1_UTCTIME,
                                       ASN1_UTCTIME_set(nullptr, time_t(signedAt)))
            == 1);
    const QByteArray digest = QCryptographicHash::hash(signature, QCryptographicHash::Sha256);
    ASN1_OCTET_STRING *digestValue = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(digestValue, reinterpret_cast<const unsigned char *>(digest.constData()), int(digest.size()));
    QVERIFY(PKCS7_add_signed_attribute(counter.get(), NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digestValue) == 1);
    QVERIFY(PKCS7_SIGNER_INFO_sign(counter.get()) == 1);

    unsigned char *der = nullptr;
    const int derLength = i2d_PKCS7_SIGNER_INFO(counter.get(), &der);
    QVERIFY(derLength > 0);
    ASN1_STRING *sequence = ASN1_STRING_new();
    ASN1_STRING_set(sequence, der, derLength);
    OPENSSL_free(der);
    QVERIFY(PKCS7_add_attribute(signer, NID_pkcs9_countersignature, V_ASN1_SEQUENCE, sequence) == 1);
    QVERIFY(PKCS7_add_certificate(p7.get(), cert.get()) == 1);

    const QString path = m_dir.filePath(QStringLiteral("countersigned.exe"));
    QVERIFY(writeFile(path, withSignature(image, p7.get())));
    QCOMPARE(Authenticode::signerName(path, testAnchors()), expected);
    QByteArray output;
    QVERIFY2(osslsigncodeAccepts(path, true, &output) == !expected.isEmpty(), output.constData());
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

    // Its table moved in front of the first section's code (new code could
    // stand in it): the digest still matches, the publisher must not.
    const QByteArray moved = withTableMovedTo(bytes, PeFixture::firstSectionOffset(bytes));
    QVERIFY(moved.size() == bytes.size() && moved != bytes);
    QCOMPARE(Authenticode::signerName(Authenticode::BufferSource(moved), Authenticode::TrustAnchors()), QString());

    const qsizetype middle = bytes.size() / 2;
    bytes[middle] = char(bytes[middle] ^ 0x01);
    const QString changed = m_dir.filePath(QStringLiteral("snoretoast-changed.exe"));
    QVERIFY(writeFile(changed, bytes));
    QCOMPARE(Authenticode::signerName(changed), QString());
}

// One store serves every thread, and each check keeps its own time: a
// timestamped signature checked at its signing time beside an expired one
// checked now, many times over on the pool, each gets its own answer.
void TstAuthenticode::checksOnManyThreadsShareOneStore()
{
    const QList<QPair<QByteArray, QString>> cases{
        {readFixture(QStringLiteral("expired-stamped.exe")), QStringLiteral("Orvalin Former Publisher")},
        {readFixture(QStringLiteral("expired.exe")), QString()},
        {readFixture(QStringLiteral("signed64.exe")), QStringLiteral("Orvalin Test Publisher")}};
    const Authenticode::TrustAnchors anchors = testAnchors();
    QList<int> work;
    for (int i = 0; i < 300; ++i)
        work.append(i % int(cases.size()));
    QThreadPool pool;
    pool.setMaxThreadCount(6);
    const QList<bool> right = QtConcurrent::blockingMapped(&pool, work, [&](int which) {
        return Authenticode::signerName(Authenticode::BufferSource(cases.at(which).first), anchors)
               == cases.at(which).second;
    });
    QCOMPARE(right.count(false), 0);
}

QTEST_GUILESS_MAIN(TstAuthenticode)
#include "tst_authenticode.moc"
