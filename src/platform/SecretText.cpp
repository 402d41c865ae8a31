#include "SecretText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>

#include <openssl/crypto.h>

namespace {

const QString placeholder = QStringLiteral("<redacted>");

bool isSecretName(QStringView name) {
    // A sign-in code (the QR code's text, a caller's code) and its second code approve a sign-in as surely as
    // a one-time code does.
    for (const char* secret :
         {"activationCode", "pin", "otp", "privateKey", "uniqueId", "qid", "validationCode"})
        if (name.compare(QLatin1String(secret), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A form or query key names a secret when any of its parts does: "pin", "pin[]", "user[pin]".
bool isSecretKey(const QString& key) {
    for (const QString& part : key.split(QRegularExpression(QStringLiteral("[\\[\\]]")), Qt::SkipEmptyParts))
        if (isSecretName(part))
            return true;
    return false;
}

qsizetype skipString(const QString& text, qsizetype i) {
    for (++i; i < text.size(); ++i) {
        if (text[i] == u'\\')
            ++i;
        else if (text[i] == u'"')
            return i + 1;
    }
    return text.size();
}

qsizetype skipSpace(const QString& text, qsizetype i) {
    while (i < text.size() && text[i].isSpace())
        ++i;
    return i;
}

// The end of the JSON value that starts at `i`: a string, an object or array with all it holds, or a literal.
qsizetype skipValue(const QString& text, qsizetype i) {
    if (i >= text.size())
        return i;
    if (text[i] == u'"')
        return skipString(text, i);
    if (text[i] == u'{' || text[i] == u'[') {
        int depth = 0;
        while (i < text.size()) {
            const QChar c = text[i];
            if (c == u'"') {
                i = skipString(text, i);
                continue;
            }
            if (c == u'{' || c == u'[')
                ++depth;
            else if ((c == u'}' || c == u']') && --depth == 0)
                return i + 1;
            ++i;
        }
        return i;
    }
    while (i < text.size() && !text[i].isSpace() && text[i] != u',' && text[i] != u'}' && text[i] != u']')
        ++i;
    return i;
}

// The text of a JSON string token, escapes resolved, so that "o\u0074p" is seen as the key it is.
QString decodedString(QStringView token) {
    if (!token.contains(u'\\'))
        return token.mid(1, token.size() - 2).toString();
    const QJsonDocument document = QJsonDocument::fromJson(u'[' + token.toString().toUtf8() + u']');
    return document.isArray() ? document.array().at(0).toString() : QString();
}

// Every member of a JSON object, at any depth and also inside surrounding text, whose key names a secret
// gets the placeholder for its whole value.
QString redactJsonMembers(QString text) {
    for (qsizetype i = 0; i < text.size();) {
        if (text[i] != u'"') {
            ++i;
            continue;
        }
        const qsizetype end = skipString(text, i);
        const qsizetype colon = skipSpace(text, end);
        if (colon >= text.size() || text[colon] != u':' ||
            !isSecretName(decodedString(QStringView(text).mid(i, end - i)))) {
            i = end;
            continue;
        }
        const qsizetype valueStart = skipSpace(text, colon + 1);
        const qsizetype valueEnd = skipValue(text, valueStart);
        const QString masked = u'"' + placeholder + u'"';
        text.replace(valueStart, valueEnd - valueStart, masked);
        i = valueStart + masked.size();
    }
    return text;
}

// The parts of a multipart body whose field name is a secret lose their content.
QString redactMultipartFields(QString text) {
    static const QRegularExpression disposition(
        QStringLiteral(
            R"re(Content-Disposition:[^\r\n]*?;\s*name="((?:[^"\\]|\\.)*)"[^\r\n]*\r?\n(?:[^\r\n]+\r?\n)*\r?\n)re"),
        QRegularExpression::CaseInsensitiveOption);
    qsizetype from = 0;
    for (;;) {
        const QRegularExpressionMatch header = disposition.match(text, from);
        if (!header.hasMatch())
            return text;
        const qsizetype contentStart = header.capturedEnd();
        qsizetype contentEnd = text.indexOf(QLatin1String("\r\n--"), contentStart);
        if (contentEnd < 0)
            contentEnd = text.size();
        if (isSecretKey(header.captured(1))) {
            text.replace(contentStart, contentEnd - contentStart, placeholder);
            contentEnd = contentStart + placeholder.size();
        }
        from = contentEnd;
    }
}

// Form bodies and query strings: in every word, each "key=value" whose decoded key names a secret.
QString redactFormFields(const QString& text) {
    static const QRegularExpression pair(QStringLiteral(R"re((^|[?&;\s'"])([^=&?;\s'"]+)=([^&;\s'"]*))re"));
    QString result;
    qsizetype copied = 0;
    QRegularExpressionMatchIterator it = pair.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        QString key = match.captured(2);
        key.replace(u'+', u' ');
        if (!isSecretKey(QUrl::fromPercentEncoding(key.toUtf8())))
            continue;
        result += QStringView(text).mid(copied, match.capturedStart(3) - copied);
        result += placeholder;
        copied = match.capturedEnd(3);
    }
    if (copied == 0)
        return text;
    result += QStringView(text).mid(copied);
    return result;
}

} // namespace

void wipeText(QString& text) {
    if (text.isDetached())
        OPENSSL_cleanse(text.data(), size_t(text.size()) * sizeof(QChar));
    else
        text = QString();
    text.resize(0);
}

QString redactSecretValues(QString text) {
    return redactFormFields(redactMultipartFields(redactJsonMembers(std::move(text))));
}
