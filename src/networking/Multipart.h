#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <vector>

// One file part of a multipart/form-data body.
struct MultipartData {
    QString name;
    QByteArray fileData;
    QString fileName;
    QString mimeType;
};

// What renders itself as body parts, each opened by its boundary line.
class HttpBodyConvertible {
public:
    virtual ~HttpBodyConvertible() = default;
    virtual QByteArray httpBody(const QString& boundary) const = 0;
};

// The field parts of a parameter dictionary, one per entry.
class ParamsBody final : public HttpBodyConvertible {
public:
    explicit ParamsBody(const QJsonObject& params)
        : m_params(params) {}
    QByteArray httpBody(const QString& boundary) const override;

private:
    const QJsonObject& m_params;
};

// The file part of a MultipartData.
class MultipartDataBody final : public HttpBodyConvertible {
public:
    explicit MultipartDataBody(const MultipartData& part)
        : m_part(part) {}
    QByteArray httpBody(const QString& boundary) const override;

private:
    const MultipartData& m_part;
};

// The parameter fields, then the file parts in order, then the closing boundary line (no CRLF after it).
QByteArray multipartBody(const QJsonObject& params, const std::vector<MultipartData>& parts,
                         const QString& boundary);

// A parameter value as text in a form field: a text as itself, a number in decimal, a boolean as 1 or 0,
// null as <null>, a list or dictionary as indented JSON.
QString formFieldText(const QJsonValue& value);
