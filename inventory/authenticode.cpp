#include "authenticode.h"

#include "opensslptr.h"
#include "peimage.h"
#include "truststore.h"

#include <QFile>

#include <cstring>
#include <ctime>
#include <memory>
#include <optional>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace Authenticode {

QByteArray BufferSource::read(qint64 offset, qint64 length) const
{
    if (offset < 0 || length < 0 || offset > m_bytes.size() || length > m_bytes.size() - offset)
        return {};
    return m_bytes.sliced(offset, length).toByteArray();
}

namespace {

// Reads from an open file on demand; nothing is cached.
class FileSource final : public ByteSource
{
public:
    explicit FileSource(const QString &path)
        : m_file(path)
    {
    }
    bool open() { return m_file.open(QIODevice::ReadOnly) && !m_file.isSequential(); }
    qint64 size() const override { return m_file.size(); }
    QByteArray read(qint64 offset, qint64 length) const override
    {
        if (offset < 0 || length < 0 || offset > m_file.size() || length > m_file.size() - offset)
            return {};
        if (!m_file.seek(offset))
            return {};
        QByteArray bytes = m_file.read(length);
        return bytes.size() == length ? bytes : QByteArray();
    }

private:
    mutable QFile m_file;
};

// ---- A minimal DER reader for the one structure OpenSSL has no type for ----

struct DerElement
{
    unsigned char tag = 0;
    QByteArrayView content;
    QByteArrayView whole;
};

// Takes the next definite-length element off the front of `input`.
std::optional<DerElement> takeElement(QByteArrayView &input)
{
    if (input.size() < 2)
        return std::nullopt;
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(input[i]); };
    DerElement element;
    element.tag = byte(0);
    qsizetype headerSize = 2;
    qsizetype length = byte(1);
    if (length & 0x80) {
        const int lengthBytes = length & 0x7f;
        if (lengthBytes < 1 || lengthBytes > 4 || input.size() < 2 + lengthBytes)
            return std::nullopt;
        length = 0;
        for (int i = 0; i < lengthBytes; ++i)
            length = (length << 8) | byte(2 + i);
        headerSize += lengthBytes;
    }
    if (length > input.size() - headerSize)
        return std::nullopt;
    element.content = input.sliced(headerSize, length);
    element.whole = input.first(headerSize + length);
    input = input.sliced(headerSize + length);
    return element;
}

std::optional<DerElement> takeElement(QByteArrayView &input, unsigned char tag)
{
    std::optional<DerElement> element = takeElement(input);
    if (!element || element->tag != tag)
        return std::nullopt;
    return element;
}

constexpr unsigned char DerSequence = 0x30;
constexpr unsigned char DerOctetString = 0x04;
constexpr unsigned char DerObject = 0x06;

OpenSsl::Object objectFrom(QByteArrayView der)
{
    const auto *data = reinterpret_cast<const unsigned char *>(der.data());
    return OpenSsl::Object(d2i_ASN1_OBJECT(nullptr, &data, long(der.size())));
}

bool sameObject(const ASN1_OBJECT *object, const char *oid)
{
    const OpenSsl::Object expected(OBJ_txt2obj(oid, 1));
    return object && expected && OBJ_cmp(object, expected.get()) == 0;
}

constexpr char SpcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char SpcPeImageDataOid[] = "1.3.6.1.4.1.311.2.1.15";
constexpr char SpcRfc3161TimestampOid[] = "1.3.6.1.4.1.311.3.3.1";

// ---- SpcIndirectDataContent ----

struct IndirectData
{
    const EVP_MD *md = nullptr;
    QByteArray digest;          // the image digest the publisher signed
    QByteArrayView signedBytes; // what the signature covers: the SEQUENCE's content
};

// Accepts only the digests Windows still accepts for code.
const EVP_MD *imageDigestAlgorithm(const ASN1_OBJECT *object)
{
    switch (OBJ_obj2nid(object)) {
    case NID_sha1:
        return EVP_sha1();
    case NID_sha256:
        return EVP_sha256();
    case NID_sha384:
        return EVP_sha384();
    case NID_sha512:
        return EVP_sha512();
    default:
        return nullptr;
    }
}

// SpcIndirectDataContent ::= SEQUENCE {
//     data          SEQUENCE { type OBJECT IDENTIFIER, value ANY OPTIONAL },
//     messageDigest SEQUENCE { SEQUENCE { algorithm OBJECT IDENTIFIER, ... }, digest OCTET STRING } }
std::optional<IndirectData> parseIndirectData(QByteArrayView der)
{
    const std::optional<DerElement> outer = takeElement(der, DerSequence);
    if (!outer)
        return std::nullopt;
    QByteArrayView fields = outer->content;
    const std::optional<DerElement> data = takeElement(fields, DerSequence);
    const std::optional<DerElement> digestInfo = takeElement(fields, DerSequence);
    if (!data || !digestInfo)
        return std::nullopt;

    QByteArrayView dataFields = data->content;
    const std::optional<DerElement> dataType = takeElement(dataFields, DerObject);
    if (!dataType || !sameObject(objectFrom(dataType->whole).get(), SpcPeImageDataOid))
        return std::nullopt;

    QByteArrayView digestFields = digestInfo->content;
    std::optional<DerElement> algorithm = takeElement(digestFields, DerSequence);
    const std::optional<DerElement> digest = takeElement(digestFields, DerOctetString);
    if (!algorithm || !digest)
        return std::nullopt;
    const std::optional<DerElement> algorithmOid = takeElement(algorithm->content, DerObject);
    if (!algorithmOid)
        return std::nullopt;

    IndirectData result;
    result.md = imageDigestAlgorithm(objectFrom(algorithmOid->whole).get());
    if (!result.md || digest->content.size() != EVP_MD_get_size(result.md))
        return std::nullopt;
    result.digest = digest->content.toByteArray();
    result.signedBytes = outer->content;
    return result;
}

// The DER of the signed content, when it is an SpcIndirectDataContent.
QByteArrayView indirectDataDer(PKCS7 *p7)
{
    PKCS7 *contents = p7->d.sign->contents;
    if (!contents || !sameObject(contents->type, SpcIndirectDataOid))
        return {};
    const ASN1_TYPE *value = contents->d.other;
    if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence)
        return {};
    const ASN1_STRING *sequence = value->value.sequence;
    return QByteArrayView(reinterpret_cast<const char *>(ASN1_STRING_get0_data(sequence)),
                          ASN1_STRING_length(sequence));
}

// ---- Trust ----

// Whether the certificate names this extended key usage.
bool hasExtendedKeyUsage(X509 *cert, const char *oid)
{
    const OpenSsl::Object wanted(OBJ_txt2obj(oid, 1));
    auto *usages = static_cast<EXTENDED_KEY_USAGE *>(X509_get_ext_d2i(cert, NID_ext_key_usage, nullptr, nullptr));
    bool found = false;
    for (int i = 0; i < sk_ASN1_OBJECT_num(usages) && !found; ++i)
        found = wanted && OBJ_cmp(sk_ASN1_OBJECT_value(usages, i), wanted.get()) == 0;
    EXTENDED_KEY_USAGE_free(usages);
    return found;
}

constexpr char LifetimeSigningOid[] = "1.3.6.1.4.1.311.10.3.13";

// A CA may allow any purpose; the signer itself must name code signing when
// it restricts its purposes at all.
bool allowsCodeSigning(X509 *cert, bool isLeaf)
{
    if (!(X509_get_extension_flags(cert) & EXFLAG_XKUSAGE))
        return true; // no restriction
    const uint32_t usage = X509_get_extended_key_usage(cert);
    return isLeaf ? (usage & XKU_CODE_SIGN) : (usage & (XKU_CODE_SIGN | XKU_ANYEKU));
}

// Without a code-signing purpose in OpenSSL's table, its rule is applied to
// the built chain: the signer and every CA that restricts its extended key
// usage must allow code signing, and the signer must be allowed to sign.
bool chainAllowsCodeSigning(STACK_OF(X509) * chain)
{
    const int count = sk_X509_num(chain);
    if (count < 1)
        return false;
    X509 *leaf = sk_X509_value(chain, 0);
    if ((X509_get_extension_flags(leaf) & EXFLAG_KUSAGE) && !(X509_get_key_usage(leaf) & KU_DIGITAL_SIGNATURE))
        return false;
    // The root's own usage does not limit what it signs.
    for (int i = 0; i < qMax(1, count - 1); ++i) {
        if (!allowsCodeSigning(sk_X509_value(chain, i), i == 0))
            return false;
    }
    return true;
}

enum class Purpose { CodeSigning, Timestamping };

bool verifyChain(X509 *leaf, STACK_OF(X509) * untrusted, const TrustAnchors &anchors, std::optional<time_t> at,
                 Purpose purpose)
{
    const std::shared_ptr<X509_STORE> store = TrustStore::shared(anchors);
    const OpenSsl::StoreContext context(X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_CTX_init(context.get(), store.get(), leaf, untrusted) != 1)
        return false;
    // On the context, not the shared store: other threads check other times.
    if (at)
        X509_STORE_CTX_set_time(context.get(), 0, *at);
    if (purpose == Purpose::Timestamping && X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_TIMESTAMP_SIGN) != 1)
        return false;
    if (X509_verify_cert(context.get()) != 1)
        return false;
    return purpose == Purpose::Timestamping || chainAllowsCodeSigning(X509_STORE_CTX_get0_chain(context.get()));
}

// ---- Timestamps ----

std::optional<time_t> toTime(const ASN1_TIME *time)
{
    tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return std::nullopt;
    return timegm(&parts);
}

bool digestMatches(const X509_ALGOR *algorithm, QByteArrayView data, const ASN1_OCTET_STRING *expected)
{
    const ASN1_OBJECT *object = nullptr;
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    const EVP_MD *md = EVP_get_digestbyobj(object);
    if (!md || !expected)
        return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), size_t(data.size()), digest, &length, md, nullptr) != 1)
        return false;
    return int(length) == ASN1_STRING_length(expected) && memcmp(digest, ASN1_STRING_get0_data(expected), length) == 0;
}

QByteArrayView signatureValue(PKCS7_SIGNER_INFO *signer)
{
    return QByteArrayView(reinterpret_cast<const char *>(ASN1_STRING_get0_data(signer->enc_digest)),
                          ASN1_STRING_length(signer->enc_digest));
}

// The first value of an unsigned attribute, as DER, when it is a SEQUENCE.
QByteArrayView unsignedAttributeDer(PKCS7_SIGNER_INFO *signer, const ASN1_OBJECT *type)
{
    const int index = X509at_get_attr_by_OBJ(signer->unauth_attr, type, -1);
    if (index < 0)
        return {};
    ASN1_TYPE *value = X509_ATTRIBUTE_get0_type(X509at_get_attr(signer->unauth_attr, index), 0);
    if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence)
        return {};
    return QByteArrayView(reinterpret_cast<const char *>(ASN1_STRING_get0_data(value->value.sequence)),
                          ASN1_STRING_length(value->value.sequence));
}

// An RFC 3161 token over the signature value: its signature, its imprint
// and its TSA chain at the time it states.
std::optional<time_t> rfc3161Time(PKCS7_SIGNER_INFO *signer, const TrustAnchors &anchors)
{
    const OpenSsl::Object type(OBJ_txt2obj(SpcRfc3161TimestampOid, 1));
    const QByteArrayView der = unsignedAttributeDer(signer, type.get());
    if (der.isEmpty())
        return std::nullopt;
    const auto *data = reinterpret_cast<const unsigned char *>(der.data());
    const OpenSsl::Pkcs7 token(d2i_PKCS7(nullptr, &data, long(der.size())));
    if (!token || !PKCS7_type_is_signed(token.get()))
        return std::nullopt;
    const OpenSsl::TstInfo info(PKCS7_to_TS_TST_INFO(token.get()));
    if (!info)
        return std::nullopt;
    TS_MSG_IMPRINT *imprint = TS_TST_INFO_get_msg_imprint(info.get());
    if (!digestMatches(TS_MSG_IMPRINT_get_algo(imprint), signatureValue(signer), TS_MSG_IMPRINT_get_msg(imprint)))
        return std::nullopt;
    const std::optional<time_t> time = toTime(TS_TST_INFO_get_time(info.get()));
    if (!time || sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(token.get())) != 1)
        return std::nullopt;

    if (PKCS7_verify(token.get(), nullptr, nullptr, nullptr, nullptr, PKCS7_NOVERIFY) != 1)
        return std::nullopt;
    const OpenSsl::CertList signers(PKCS7_get0_signers(token.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) != 1)
        return std::nullopt;
    if (!verifyChain(sk_X509_value(signers.get(), 0), token->d.sign->cert, anchors, time, Purpose::Timestamping))
        return std::nullopt;
    return time;
}

// A PKCS#9 counter-signature over the signature value (the older Authenticode
// timestamp): the digest it carries, its signature, and the timestamping
// chain at its signing time.
std::optional<time_t> counterSignatureTime(PKCS7 *p7, PKCS7_SIGNER_INFO *signer, const TrustAnchors &anchors)
{
    const QByteArrayView der = unsignedAttributeDer(signer, OBJ_nid2obj(NID_pkcs9_countersignature));
    if (der.isEmpty())
        return std::nullopt;
    const auto *data = reinterpret_cast<const unsigned char *>(der.data());
    const OpenSsl::SignerInfo counter(d2i_PKCS7_SIGNER_INFO(nullptr, &data, long(der.size())));
    if (!counter || !counter->issuer_and_serial)
        return std::nullopt;
    STACK_OF(X509) *certs = p7->d.sign->cert;
    X509 *cert
        = X509_find_by_issuer_and_serial(certs, counter->issuer_and_serial->issuer, counter->issuer_and_serial->serial);
    const ASN1_TYPE *signingTime = PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime);
    if (!cert || !signingTime)
        return std::nullopt;
    const std::optional<time_t> time = signingTime->type == V_ASN1_UTCTIME ? toTime(signingTime->value.utctime)
                                       : signingTime->type == V_ASN1_GENERALIZEDTIME
                                           ? toTime(signingTime->value.generalizedtime)
                                           : std::nullopt;
    if (!time)
        return std::nullopt;

    // PKCS7_signatureVerify checks the messageDigest attribute against the
    // digest BIO in the chain and the signature over the attributes.
    const EVP_MD *md = EVP_get_digestbyobj(counter->digest_alg->algorithm);
    OpenSsl::Bio digest(BIO_new(BIO_f_md()));
    if (!md || !digest || BIO_set_md(digest.get(), md) != 1)
        return std::nullopt;
    BIO_push(digest.get(), BIO_new(BIO_s_null()));
    const QByteArrayView value = signatureValue(signer);
    if (BIO_write(digest.get(), value.data(), int(value.size())) != int(value.size()))
        return std::nullopt;
    if (PKCS7_signatureVerify(digest.get(), p7, counter.get(), cert) != 1)
        return std::nullopt;
    if (!verifyChain(cert, certs, anchors, time, Purpose::Timestamping))
        return std::nullopt;
    return time;
}

std::optional<time_t> provenSigningTime(PKCS7 *p7, PKCS7_SIGNER_INFO *signer, const TrustAnchors &anchors)
{
    if (const std::optional<time_t> time = rfc3161Time(signer, anchors))
        return time;
    return counterSignatureTime(p7, signer, anchors);
}

// ---- Names ----

QString nameEntry(const X509_NAME *name, int nid)
{
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return {};
    unsigned char *utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
        return {};
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(utf8), length);
    OPENSSL_free(utf8);
    return text;
}

QString alternativeEmail(X509 *cert)
{
    auto *names = static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    QString email;
    for (int i = 0; i < sk_GENERAL_NAME_num(names) && email.isEmpty(); ++i) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(names, i);
        if (name->type == GEN_EMAIL)
            email = QString::fromUtf8(reinterpret_cast<const char *>(ASN1_STRING_get0_data(name->d.rfc822Name)),
                                      ASN1_STRING_length(name->d.rfc822Name));
    }
    GENERAL_NAMES_free(names);
    return email;
}

// The simple display name: the first of CN, OU, O and the e-mail address.
QString simpleDisplayName(X509 *cert)
{
    const X509_NAME *subject = X509_get_subject_name(cert);
    for (const int nid : {NID_commonName, NID_organizationalUnitName, NID_organizationName, NID_pkcs9_emailAddress}) {
        const QString value = nameEntry(subject, nid);
        if (!value.isEmpty())
            return value;
    }
    return alternativeEmail(cert);
}

// ---- The signature itself ----

bool hasIndirectDataContentType(PKCS7_SIGNER_INFO *signer)
{
    const ASN1_TYPE *type = PKCS7_get_signed_attribute(signer, NID_pkcs9_contentType);
    return type && type->type == V_ASN1_OBJECT && sameObject(type->value.object, SpcIndirectDataOid);
}

// PKCS7_verify leaks its copy of the content when it meets a digest it
// cannot set up, so such signatures (never valid anyway) are refused first.
bool digestsAreKnown(PKCS7 *p7)
{
    STACK_OF(X509_ALGOR) *algorithms = p7->d.sign->md_algs;
    for (int i = 0; i < sk_X509_ALGOR_num(algorithms); ++i) {
        if (!imageDigestAlgorithm(sk_X509_ALGOR_value(algorithms, i)->algorithm))
            return false;
    }
    return true;
}

QString verifiedSigner(const ByteSource &source, const PeLayout &layout, const QByteArray &blob,
                       const TrustAnchors &anchors)
{
    const auto *data = reinterpret_cast<const unsigned char *>(blob.constData());
    const OpenSsl::Pkcs7 p7(d2i_PKCS7(nullptr, &data, long(blob.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign)
        return {};
    // Behind the signature only zero padding: no signature covers those bytes.
    const qsizetype parsed = reinterpret_cast<const char *>(data) - blob.constData();
    if (!isZero(QByteArrayView(blob).sliced(parsed)))
        return {};
    STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(p7.get());
    if (sk_PKCS7_SIGNER_INFO_num(signers) != 1)
        return {};
    PKCS7_SIGNER_INFO *signer = sk_PKCS7_SIGNER_INFO_value(signers, 0);
    if (!hasIndirectDataContentType(signer))
        return {};

    const std::optional<IndirectData> indirect = parseIndirectData(indirectDataDer(p7.get()));
    if (!indirect || imageDigest(source, layout, indirect->md) != indirect->digest)
        return {};

    if (!digestsAreKnown(p7.get()))
        return {};
    OpenSsl::Bio content(BIO_new_mem_buf(indirect->signedBytes.data(), int(indirect->signedBytes.size())));
    if (!content || PKCS7_verify(p7.get(), nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY) != 1)
        return {};
    const OpenSsl::CertList signerCerts(PKCS7_get0_signers(p7.get(), nullptr, 0));
    if (!signerCerts || sk_X509_num(signerCerts.get()) != 1)
        return {};
    X509 *cert = sk_X509_value(signerCerts.get(), 0);

    // Like WinTrust, a valid timestamp moves the chain check to the time it
    // proves, so signatures outlive their certificates; except with lifetime
    // signing, whose signatures end with the certificate.
    const std::optional<time_t> signedAt
        = hasExtendedKeyUsage(cert, LifetimeSigningOid) ? std::nullopt : provenSigningTime(p7.get(), signer, anchors);
    if (!verifyChain(cert, p7->d.sign->cert, anchors, signedAt, Purpose::CodeSigning))
        return {};
    return simpleDisplayName(cert);
}

} // namespace

QString signerName(const ByteSource &source, const TrustAnchors &anchors)
{
    const std::optional<PeLayout> layout = readPeLayout(source);
    if (!layout)
        return {};
    const QByteArray blob = readSignatureBlob(source, *layout);
    if (blob.isEmpty())
        return {};
    const QString name = verifiedSigner(source, *layout, blob, anchors);
    ERR_clear_error(); // leave no failure behind for unrelated OpenSSL users
    return name;
}

QString signerName(const QString &filePath, const TrustAnchors &anchors)
{
    FileSource source(filePath);
    if (!source.open())
        return {};
    return signerName(source, anchors);
}

QString signerName(const QString &filePath)
{
    return signerName(filePath, TrustAnchors());
}

quint64 systemTrustGeneration()
{
    return TrustStore::systemGeneration();
}

} // namespace Authenticode
