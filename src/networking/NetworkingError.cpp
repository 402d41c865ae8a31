#include "NetworkingError.h"

#include "JsonCoding.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <unordered_map>

namespace {

using Status = NetworkingError::Status;

struct StatusEntry {
    Status status;
    const char* name;
};

#define S(name) {Status::name, #name},
const StatusEntry kStatuses[] = {
    S(unknown) S(networkUnreachable) S(unableToParseResponse) S(unableToParseRequest) S(continueError) S(
        switchingProtocols) S(processing) S(success) S(created) S(accepted) S(nonAuthoritativeInformation)
        S(noContent) S(resetContent) S(partialContent) S(multiStatus) S(alreadyReported) S(IMUsed) S(
            multipleChoices) S(movedPermanently) S(found) S(seeOther) S(notModified) S(useProxy)
            S(switchProxy) S(temporaryRedirect) S(permenantRedirect) S(badRequest) S(unauthorized) S(
                paymentRequired) S(forbidden) S(notFound) S(methodNotAllowed) S(notAcceptable)
                S(proxyAuthenticationRequired) S(requestTimeout) S(conflict) S(gone) S(lengthRequired) S(
                    preconditionFailed) S(payloadTooLarge) S(uriTooLong) S(unsupportedMediaType)
                    S(rangeNotSatisfiable) S(expectationFailed) S(teapot) S(misdirectedRequest) S(
                        unprocessableEntity) S(locked) S(failedDependency)
                        S(upgradeRequired) S(preconditionRequired) S(tooManyRequests) S(
                            requestHeaderFieldsTooLarge) S(unavailableForLegalReasons) S(noResponse)
                            S(sslCertificateError) S(sslCertificateRequired) S(httpRequestSentToHTTPSPort) S(
                                clientClosedRequest) S(internalServerError) S(notImplemented) S(badGateway)
                                S(serviceUnavailable) S(
                                    gatewayTimeout) S(httpVersionNotSupported) S(variantAlsoNegotiates)
                                    S(insufficientStorage) S(loopDetected) S(notExtended) S(
                                        networkAuthenticationRequired) S(cancelled) S(badURL) S(timedOut)
                                        S(unsupportedURL) S(
                                            cannotFindHost) S(cannotConnectToHost) S(networkConnectionLost)
                                            S(dnsLookupFailed) S(httpTooManyRedirects) S(resourceUnavailable) S(
                                                notConnectedToInternet) S(redirectToNonExistentLocation) S(badServerResponse)
                                                S(userCancelledAuthentication) S(userAuthenticationRequired) S(
                                                    zeroByteResource) S(cannotDecodeRawData)
                                                    S(cannotDecodeContentData) S(cannotParseResponse) S(
                                                        transportSecurityRequireSecureConnection) S(fileDoesNotExist)
                                                        S(fileIsDirectory) S(noPermissionsToReadFile) S(
                                                            dataLengthExceedsMaximum) S(secureConnectionFailed)
                                                            S(serverCertificateHasBadDate) S(
                                                                serverCertificateUntrusted)
                                                                S(serverCertificateHasUnknownRoot) S(
                                                                    serverCertificateNotYetValid)
                                                                    S(clientCertificateRejected) S(
                                                                        clientCertificateRequired)
                                                                        S(cannotLoadFromNetwork) S(
                                                                            cannotCreateFile) S(cannotOpenFile)
                                                                            S(cannotCloseFile) S(
                                                                                cannotWriteToFile) S(cannotRemoveFile)
                                                                                S(cannotMoveFile) S(
                                                                                    downloadDecodingFailedMidStream)
                                                                                    S(downloadDecodingFailedToComplete)};
#undef S

const std::unordered_map<qint64, const StatusEntry*>& statusByRawValue() {
    static const auto map = [] {
        std::unordered_map<qint64, const StatusEntry*> m;
        for (const StatusEntry& e : kStatuses)
            m.emplace(static_cast<qint64>(e.status), &e);
        return m;
    }();
    return map;
}

std::ptrdiff_t declarationIndex(Status status) {
    const auto& map = statusByRawValue();
    const auto it = map.find(static_cast<qint64>(status));
    return it == map.end() ? -1 : it->second - kStatuses;
}

} // namespace

const NetworkingError NetworkingError::unknown{Status::unknown};
const NetworkingError NetworkingError::unableToParseResponse{Status::unableToParseResponse};
const NetworkingError NetworkingError::unableToParseRequest{Status::unableToParseRequest};

NetworkingError::NetworkingError(Status status, std::optional<QJsonValue> jsonPayload)
    : status(status)
    , jsonPayload(std::move(jsonPayload)) {}

NetworkingError NetworkingError::fromStatusCode(qint64 statusCode) {
    return NetworkingError(statusFromRawValue(statusCode).value_or(Status::unknown));
}

NetworkingError NetworkingError::fromError(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const NetworkingError& e) {
        return e;
    } catch (const URLError& e) {
        return fromStatusCode(e.code());
    } catch (...) {
    }
    return NetworkingError(Status::unknown);
}

std::optional<NetworkingError::Status> NetworkingError::statusFromRawValue(qint64 rawValue) {
    const auto& map = statusByRawValue();
    const auto it = map.find(rawValue);
    if (it == map.end())
        return std::nullopt;
    return it->second->status;
}

QString NetworkingError::caseName(Status status) {
    const auto index = declarationIndex(status);
    return index < 0 ? QString() : QString::fromLatin1(kStatuses[index].name);
}

const std::vector<NetworkingError::Status>& NetworkingError::allStatuses() {
    static const std::vector<Status> all = [] {
        std::vector<Status> v;
        for (const StatusEntry& e : kStatuses)
            v.push_back(e.status);
        return v;
    }();
    return all;
}

bool NetworkingError::isHTTPFailure(Status status) {
    const auto index = declarationIndex(status);
    return index >= declarationIndex(Status::multipleChoices) &&
           index <= declarationIndex(Status::networkAuthenticationRequired);
}

QString NetworkingError::errorDescription() const {
    return caseName(status);
}

QString NetworkingError::description() const {
    static const QRegularExpression boundary(QStringLiteral("(?<=[a-z])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])"));
    QString spaced = caseName(status);
    spaced.replace(boundary, QStringLiteral(" "));
    QStringList words = spaced.split(QLatin1Char(' '));
    for (QString& word : words)
        if (!word.isEmpty())
            word = word.left(1).toUpper() + word.mid(1).toLower();
    return words.join(QLatin1Char(' '));
}

const char* NetworkingError::what() const noexcept {
    if (m_what.empty())
        m_what = "NetworkingError." + caseName(status).toStdString();
    return m_what.c_str();
}

URLError::URLError(int code, QString detail)
    : m_code(code)
    , m_detail(std::move(detail)) {
    m_what = QStringLiteral("URLError %1: %2").arg(code).arg(localizedDescription(code)).toStdString();
    if (!m_detail.isEmpty())
        m_what += " (" + m_detail.toStdString() + ")";
}

QString URLError::localizedDescription() const {
    return localizedDescription(m_code);
}

QString URLError::localizedDescription(int code) {
    const char* text = nullptr;
    switch (code) {
    case cancelled:
        text = QT_TRANSLATE_NOOP("URLError", "The request was cancelled.");
        break;
    case badURL:
        text = QT_TRANSLATE_NOOP("URLError", "The URL is not valid.");
        break;
    case timedOut:
        text = QT_TRANSLATE_NOOP("URLError", "The request timed out.");
        break;
    case unsupportedURL:
        text = QT_TRANSLATE_NOOP("URLError", "The URL uses a scheme that is not supported.");
        break;
    case cannotFindHost:
        text = QT_TRANSLATE_NOOP("URLError", "A server with the specified hostname could not be found.");
        break;
    case cannotConnectToHost:
        text = QT_TRANSLATE_NOOP("URLError", "Could not connect to the server.");
        break;
    case networkConnectionLost:
        text = QT_TRANSLATE_NOOP("URLError", "The network connection was lost.");
        break;
    case httpTooManyRedirects:
        text = QT_TRANSLATE_NOOP("URLError", "Too many HTTP redirects.");
        break;
    case notConnectedToInternet:
        text = QT_TRANSLATE_NOOP("URLError", "The Internet connection appears to be offline.");
        break;
    case badServerResponse:
        text = QT_TRANSLATE_NOOP("URLError", "The server sent a response that could not be read.");
        break;
    case userAuthenticationRequired:
        text = QT_TRANSLATE_NOOP("URLError", "Authentication is required to reach the server.");
        break;
    case cannotDecodeContentData:
        text = QT_TRANSLATE_NOOP("URLError", "The server's response is in an encoding that cannot be read.");
        break;
    case transportSecurityRequireSecureConnection:
        text = QT_TRANSLATE_NOOP("URLError",
                                 "The request was refused because it would leave a secure connection.");
        break;
    case dataLengthExceedsMaximum:
        text = QT_TRANSLATE_NOOP("URLError", "The server's response exceeds the maximum size allowed.");
        break;
    case secureConnectionFailed:
        text = QT_TRANSLATE_NOOP(
            "URLError", "An SSL error has occurred and a secure connection to the server cannot be made.");
        break;
    case serverCertificateHasBadDate:
        text = QT_TRANSLATE_NOOP("URLError", "The certificate for this server has expired.");
        break;
    case serverCertificateUntrusted:
        text = QT_TRANSLATE_NOOP("URLError",
                                 "The certificate for this server is invalid or not the one expected.");
        break;
    case serverCertificateHasUnknownRoot:
        text = QT_TRANSLATE_NOOP("URLError",
                                 "The certificate for this server was signed by an unknown authority.");
        break;
    case serverCertificateNotYetValid:
        text = QT_TRANSLATE_NOOP("URLError", "The certificate for this server is not yet valid.");
        break;
    default:
        text = QT_TRANSLATE_NOOP("URLError", "An unknown network error occurred.");
        break;
    }
    return QCoreApplication::translate("URLError", text);
}

JSONSerializationError::JSONSerializationError(QString detail)
    : m_detail(std::move(detail)) {
    m_what = message().toStdString();
    if (!m_detail.isEmpty())
        m_what += " (" + m_detail.toStdString() + ")";
}

QString JSONSerializationError::message() const {
    return QStringLiteral("The data couldn\u2019t be read because it isn\u2019t in the correct format.");
}

QString localizedDescription(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const NetworkingError& e) {
        return e.localizedDescription();
    } catch (const URLError& e) {
        return e.localizedDescription();
    } catch (const coding::DecodingError& e) {
        return e.localizedDescription();
    } catch (const coding::EncodingError& e) {
        return e.debugDescription();
    } catch (const JSONSerializationError& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("The operation couldn\u2019t be completed.");
    }
}

bool isCancellation(const std::exception_ptr& error) {
    return error && NetworkingError::fromError(error).status == NetworkingError::Status::cancelled;
}
