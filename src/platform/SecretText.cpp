#include "SecretText.h"

#include <QRegularExpression>

QString redactSecretValues(QString text) {
    static const QRegularExpression json(QStringLiteral(
        R"re(("(?:activationCode|pin|otp|privateKey)"\s*:\s*)("(?:[^"\\]|\\.)*"|[-0-9.eE+]+))re"));
    static const QRegularExpression form(
        QStringLiteral(R"re((^|&)((?:activationCode|pin|otp|privateKey)=)[^&]*)re"));
    if (!text.contains(QLatin1String("activationCode")) && !text.contains(QLatin1String("pin")) &&
        !text.contains(QLatin1String("otp")) && !text.contains(QLatin1String("privateKey")))
        return text;
    text.replace(json, QStringLiteral("\\1\"<redacted>\""));
    text.replace(form, QStringLiteral("\\1\\2<redacted>"));
    return text;
}
