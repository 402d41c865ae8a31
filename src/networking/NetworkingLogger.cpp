#include "NetworkingLogger.h"

#include "platform/Console.h"
#include "platform/SecretText.h"

#include <QStringDecoder>
#include <QStringList>

#include <algorithm>

namespace {

NetworkingLogger::Output& output() {
    static NetworkingLogger::Output out;
    return out;
}

std::optional<QString> utf8Text(const std::optional<QByteArray>& body) {
    if (!body)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(*body);
    if (decoder.hasError())
        return std::nullopt;
    // Masked on its own, where its structure is plain, before it is put into a line.
    return redactSecretValues(std::move(text));
}

} // namespace

void NetworkingLogger::setOutput(Output out) {
    output() = std::move(out);
}

void NetworkingLogger::print(const QString& line) {
    // Also URLs and header fields: a query item or a header may carry a secret as well as a body.
    const QString quoted = debugForm(redactSecretValues(line));
    if (output())
        output()(quoted);
    else
        console::print(quoted);
}

QString NetworkingLogger::debugForm(const QString& text) {
    return console::debugForm(text);
}

void NetworkingLogger::log(const URLRequest& request) {
    if (logLevel == NetworkingLogLevel::off)
        return;
    if (request.httpMethod && request.url.isValid()) {
        print(*request.httpMethod + QStringLiteral(" '") + request.url.toString(QUrl::FullyEncoded) +
              QLatin1Char('\''));
        for (const auto& [name, value] : request.allHTTPHeaderFields)
            print(QStringLiteral("  ") + name + QStringLiteral(" : ") + value);
        if (const auto body = utf8Text(request.httpBody))
            print(QStringLiteral("  HttpBody : ") + *body);
    }
    if (logLevel == NetworkingLogLevel::debug)
        print(curlCommand(request));
}

void NetworkingLogger::log(const URLResponse* response, const QByteArray& data) {
    if (logLevel == NetworkingLogLevel::off)
        return;
    if (response && response->isHTTP() && response->url.isValid())
        print(QString::number(*response->statusCode) + QStringLiteral(" '") +
              response->url.toString(QUrl::FullyEncoded) + QLatin1Char('\''));
    if (logLevel == NetworkingLogLevel::debug)
        print(redactSecretValues(QString::fromUtf8(data)));
}

QString NetworkingLogger::curlCommand(const URLRequest& request) const {
    if (!request.url.isValid())
        return {};
    QStringList parts;
    parts << QStringLiteral("curl \"") + request.url.toString(QUrl::FullyEncoded) + QLatin1Char('"');
    if (request.httpMethod && *request.httpMethod != QLatin1String("GET") &&
        *request.httpMethod != QLatin1String("HEAD"))
        parts << QStringLiteral("-X ") + *request.httpMethod;
    for (const auto& [name, value] : request.allHTTPHeaderFields)
        if (name != QLatin1String("Cookie"))
            parts << QStringLiteral("-H '") + name + QStringLiteral(": ") + value + QLatin1Char('\'');
    if (const auto body = utf8Text(request.httpBody))
        parts << QStringLiteral("-d '") + *body + QLatin1Char('\'');
    return parts.join(QStringLiteral(" \\\n\t"));
}
