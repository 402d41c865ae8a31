#pragma once

#include <QJsonValue>
#include <QString>

#include <exception>
#include <optional>
#include <string>
#include <vector>

// The HTTP layer's own error: what went wrong, and the parsed body of the failed reply when there was one.
class NetworkingError : public std::exception {
public:
    // Client cases, HTTP status codes and URL-loading error codes. The run from multipleChoices to
    // networkAuthenticationRequired is contiguous in declaration order; the flows rely on it.
    enum class Status : qint64 {
        unknown = -1,
        networkUnreachable = 0,
        unableToParseResponse = 1,
        unableToParseRequest = 2,

        continueError = 100,
        switchingProtocols = 101,
        processing = 102,
        success = 200,
        created = 201,
        accepted = 202,
        nonAuthoritativeInformation = 203,
        noContent = 204,
        resetContent = 205,
        partialContent = 206,
        multiStatus = 207,
        alreadyReported = 208,
        IMUsed = 226,
        multipleChoices = 300,
        movedPermanently = 301,
        found = 302,
        seeOther = 303,
        notModified = 304,
        useProxy = 305,
        switchProxy = 306,
        temporaryRedirect = 307,
        permenantRedirect = 308,
        badRequest = 400,
        unauthorized = 401,
        paymentRequired = 402,
        forbidden = 403,
        notFound = 404,
        methodNotAllowed = 405,
        notAcceptable = 406,
        proxyAuthenticationRequired = 407,
        requestTimeout = 408,
        conflict = 409,
        gone = 410,
        lengthRequired = 411,
        preconditionFailed = 412,
        payloadTooLarge = 413,
        uriTooLong = 414,
        unsupportedMediaType = 415,
        rangeNotSatisfiable = 416,
        expectationFailed = 417,
        teapot = 418,
        misdirectedRequest = 421,
        unprocessableEntity = 422,
        locked = 423,
        failedDependency = 424,
        upgradeRequired = 426,
        preconditionRequired = 428,
        tooManyRequests = 429,
        requestHeaderFieldsTooLarge = 431,
        unavailableForLegalReasons = 451,
        noResponse = 444,
        sslCertificateError = 495,
        sslCertificateRequired = 496,
        httpRequestSentToHTTPSPort = 497,
        clientClosedRequest = 499,
        internalServerError = 500,
        notImplemented = 501,
        badGateway = 502,
        serviceUnavailable = 503,
        gatewayTimeout = 504,
        httpVersionNotSupported = 505,
        variantAlsoNegotiates = 506,
        insufficientStorage = 507,
        loopDetected = 508,
        notExtended = 510,
        networkAuthenticationRequired = 511,

        cancelled = -999,
        badURL = -1000,
        timedOut = -1001,
        unsupportedURL = -1002,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        dnsLookupFailed = -1006,
        httpTooManyRedirects = -1007,
        resourceUnavailable = -1008,
        notConnectedToInternet = -1009,
        redirectToNonExistentLocation = -1010,
        badServerResponse = -1011,
        userCancelledAuthentication = -1012,
        userAuthenticationRequired = -1013,
        zeroByteResource = -1014,
        cannotDecodeRawData = -1015,
        cannotDecodeContentData = -1016,
        cannotParseResponse = -1017,
        transportSecurityRequireSecureConnection = -1022,
        fileDoesNotExist = -1100,
        fileIsDirectory = -1101,
        noPermissionsToReadFile = -1102,
        dataLengthExceedsMaximum = -1103,
        secureConnectionFailed = -1200,
        serverCertificateHasBadDate = -1201,
        serverCertificateUntrusted = -1202,
        serverCertificateHasUnknownRoot = -1203,
        serverCertificateNotYetValid = -1204,
        clientCertificateRejected = -1205,
        clientCertificateRequired = -1206,
        cannotLoadFromNetwork = -2000,
        cannotCreateFile = -3000,
        cannotOpenFile = -3001,
        cannotCloseFile = -3002,
        cannotWriteToFile = -3003,
        cannotRemoveFile = -3004,
        cannotMoveFile = -3005,
        downloadDecodingFailedMidStream = -3006,
        downloadDecodingFailedToComplete = -3007,
    };

    explicit NetworkingError(Status status, std::optional<QJsonValue> jsonPayload = std::nullopt);
    // The case of an integer code, `unknown` when there is none.
    static NetworkingError fromStatusCode(qint64 statusCode);
    // Any caught error as a NetworkingError: taken whole, by URL-loading code, or `unknown`.
    static NetworkingError fromError(std::exception_ptr error);

    static const NetworkingError unknown;
    static const NetworkingError unableToParseResponse;
    static const NetworkingError unableToParseRequest;

    Status status;
    std::optional<QJsonValue> jsonPayload;

    qint64 statusCode() const { return static_cast<qint64>(status); }
    // The case name exactly as declared, e.g. "notFound".
    QString errorDescription() const;
    QString localizedDescription() const { return errorDescription(); }
    // The case name in words, e.g. "Not Found".
    QString description() const;

    const char* what() const noexcept override;

    // Exact inverse of the raw values; anything else has no case.
    static std::optional<Status> statusFromRawValue(qint64 rawValue);
    static QString caseName(Status status);
    // Every case in declaration order.
    static const std::vector<Status>& allStatuses();
    // The 3xx, 4xx and 5xx cases: the run from multipleChoices to networkAuthenticationRequired.
    static bool isHTTPFailure(Status status);

private:
    mutable std::string m_what;
};

// A transport failure of the URL loading layer, with the platform's URL error codes
// (so -1009 means "not connected to the internet").
class URLError : public std::exception {
public:
    enum Code : int {
        unknown = -1,
        cancelled = -999,
        badURL = -1000,
        timedOut = -1001,
        unsupportedURL = -1002,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        httpTooManyRedirects = -1007,
        notConnectedToInternet = -1009,
        badServerResponse = -1011,
        userAuthenticationRequired = -1013,
        cannotDecodeContentData = -1016,
        transportSecurityRequireSecureConnection = -1022,
        dataLengthExceedsMaximum = -1103,
        secureConnectionFailed = -1200,
        serverCertificateHasBadDate = -1201,
        serverCertificateUntrusted = -1202,
        serverCertificateHasUnknownRoot = -1203,
        serverCertificateNotYetValid = -1204,
    };

    explicit URLError(int code, QString detail = {});

    int code() const { return m_code; }
    // The user-facing text of the code.
    QString localizedDescription() const;
    // What the transport itself said, for logs; may be empty.
    const QString& detail() const { return m_detail; }

    const char* what() const noexcept override { return m_what.c_str(); }

    static QString localizedDescription(int code);

private:
    int m_code;
    QString m_detail;
    std::string m_what;
};

// The JSON parser's failure: a body that is not a JSON object or array.
class JSONSerializationError : public std::exception {
public:
    // `detail`: what the parser said (where and why it stopped), for logs.
    explicit JSONSerializationError(QString detail = {});
    // The text the user is shown: one and the same for every body that does not parse.
    QString message() const;
    const QString& detail() const { return m_detail; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    QString m_detail;
    std::string m_what;
};

// The description a thrown error offers its reader, whatever layer threw it.
QString localizedDescription(const std::exception_ptr& error);

// Whether the error says the call was cancelled (URLError::cancelled, or the NetworkingError made of it).
bool isCancellation(const std::exception_ptr& error);
