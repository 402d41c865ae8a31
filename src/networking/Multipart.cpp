#include "Multipart.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
const QByteArray kCRLF("\r\n");
}

QString formFieldText(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Double:
        return value.toVariant().toString();
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented)).trimmed();
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented)).trimmed();
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("<null>");
}

QByteArray ParamsBody::httpBody(const QString& boundary) const {
    QByteArray body;
    for (auto it = m_params.begin(); it != m_params.end(); ++it) {
        body += "--" + boundary.toUtf8() + kCRLF;
        body += "Content-Disposition: form-data; name=\"" + it.key().toUtf8() + "\"" + kCRLF + kCRLF;
        body += formFieldText(it.value()).toUtf8();
        body += kCRLF;
    }
    return body;
}

QByteArray MultipartDataBody::httpBody(const QString& boundary) const {
    QByteArray body;
    body += "--" + boundary.toUtf8() + kCRLF;
    body += "Content-Disposition: form-data; name=\"" + m_part.name.toUtf8() + "\"; filename=\"" +
            m_part.fileName.toUtf8() + "\"" + kCRLF;
    body += "Content-Type: " + m_part.mimeType.toUtf8() + kCRLF + kCRLF;
    body += m_part.fileData;
    body += kCRLF;
    return body;
}

QByteArray multipartBody(const QJsonObject& params, const std::vector<MultipartData>& parts,
                         const QString& boundary) {
    QByteArray body = ParamsBody(params).httpBody(boundary);
    for (const MultipartData& part : parts)
        body += MultipartDataBody(part).httpBody(boundary);
    body += "--" + boundary.toUtf8() + "--";
    return body;
}
