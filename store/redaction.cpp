#include "redaction.h"

#include "boundedtext.h"

#include <QRegularExpression>

#include <algorithm>

const QString redactedMark = QStringLiteral("[redacted]");

namespace {

// A key naming something secret, possibly inside a longer name
// ("user_password", "X-Auth-Token", "otpCode").
const QString secretKey = QStringLiteral("[\\w.-]*(?:password|passwd|pwd|secret|otp|token|authorization)[\\w.-]*");

const QRegularExpression &jsonMember()
{
    // "key": "string with \" escapes" | a bare value (number, true, …)
    static const QRegularExpression pattern(
        QStringLiteral("(\"%1\"\\s*:\\s*)(?:\"(?:[^\"\\\\]|\\\\.)*\"|[^\\s,}\\]]+)").arg(secretKey),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

const QRegularExpression &keyValue()
{
    // key=value, key: value; an authorization may name its scheme first
    // ("Authorization: Bearer …"), and a value may be quoted. A value the
    // literal pass has already replaced is taken whole, brackets and all.
    static const QRegularExpression pattern(
        QStringLiteral("(\\b%1\\s*[=:]\\s*(?:(?:Bearer|Basic|Digest|Negotiate)\\s+)?)"
                       "(?:\\[redacted\\]|\"(?:[^\"\\\\]|\\\\.)*\"|'[^']*'|[^\\s,;&\"'}\\]]+)")
            .arg(secretKey),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

} // namespace

QString redactSecrets(const QString &text, const QStringList &literals)
{
    QString out = text;
    // Longest first, so a password with a one-time password appended goes as
    // a whole before its parts.
    QStringList values = literals;
    values.removeAll(QString());
    values.removeDuplicates();
    std::sort(values.begin(), values.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &value : std::as_const(values)) {
        out.replace(value, redactedMark);
        // The same value as it appears inside JSON text.
        QString escaped = value;
        escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        if (escaped != value)
            out.replace(escaped, redactedMark);
        // A text cut to its bound ends in "…": the beginning of a secret
        // there is as much a secret as the whole.
        if (out.contains(BoundedText::ellipsis)) {
            for (const QString &form : {value, escaped}) {
                for (qsizetype length = form.size() - 1; length > 0; --length)
                    out.replace(form.left(length) + BoundedText::ellipsis, redactedMark + BoundedText::ellipsis);
            }
        }
    }

    out.replace(jsonMember(), QStringLiteral("\\1\"") + redactedMark + QStringLiteral("\""));
    // What the JSON pass left is "[redacted]" in quotes, which the key=value
    // pass would only replace with itself.
    out.replace(keyValue(), QStringLiteral("\\1") + redactedMark);
    return out;
}
