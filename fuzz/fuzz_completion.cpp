// Drives whole replies through a request's completion handling and its traffic log, as a real call would:
// the request carries an activation code and a PIN digest, the reply gets a one-time code planted in it. The
// first byte picks the status and the request's encoding, the rest is the reply body (and a free-text field
// of the request). It traps when any of the three secrets reaches a log line or a crash-report line, and
// whenever the completion fails with anything but the errors it declares.
#include "api/CommonResponse.h"
#include "networking/NetworkingError.h"
#include "networking/NetworkingRequest.h"
#include "platform/CrashReporting.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

const QString activationCode = QStringLiteral("ACT7Qz9Wk2");
const QString pinDigest = QStringLiteral("9F3C51D2E8A7");
const QString oneTimeCode = QStringLiteral("6R2MV8XJ");

QStringList& lines() {
    static QStringList captured;
    return captured;
}

// Keeps what the file-backed reporter would write, masked the same way.
class CapturingReporter final : public CrashReporter {
public:
    void log(const QString& line) override { lines().append(FileCrashReporter::redacted(line)); }
    void setCustomValue(const QString& value, const QString& key) override {
        lines().append(key + QStringLiteral(" = ") + value);
    }
    void record(const ExceptionModel& exception) override {
        lines().append(FileCrashReporter::redacted(exception.reason));
    }
};

// A request whose transfer hands over the scripted reply at once, so execute() runs to its end synchronously.
class ScriptedRequest final : public NetworkingRequest {
public:
    URLLoadResult reply;

protected:
    QCoro::Task<URLLoadResult> load(URLRequest, SessionConfiguration,
                                    std::shared_ptr<URLSessionTask>) override {
        co_return reply;
    }
};

QCoro::Task<> complete(ScriptedRequest& request) {
    try {
        co_await request.execute();
    } catch (const NetworkingError&) {
    } catch (const URLError&) {
    } catch (const JSONSerializationError&) {
    } catch (...) {
        __builtin_trap();
    }
}

bool leaks(const QString& line) {
    return line.contains(activationCode) || line.contains(pinDigest) || line.contains(oneTimeCode);
}

// The body with the one-time code planted as a member of the JSON object it is, else as it came.
QByteArray withPlantedCode(const QByteArray& body, bool indented) {
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return body;
    QJsonObject object = document.object();
    object.insert(QStringLiteral("otp"), oneTimeCode);
    return QJsonDocument(object).toJson(indented ? QJsonDocument::Indented : QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    QStandardPaths::setTestModeEnabled(true);
    CrashReporter::setShared(std::make_shared<CapturingReporter>());
    NetworkingLogger::setOutput([](const QString& line) { lines().append(line); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t selector = data[0];
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const QString inputText = QString::fromUtf8(input);
    // Input that spells a secret itself would be logged as what it is: plain text.
    if (leaks(inputText))
        return 0;
    static const int statuses[] = {200, 201, 204, 302, 400, 401, 403, 404, 409, 422, 500, 503};
    const int status = statuses[selector % std::size(statuses)];

    ScriptedRequest request;
    request.baseURL = QStringLiteral("https://api.example");
    request.route = QStringLiteral("/api/v1/desktop/user/register");
    request.httpMethod = HTTPMethod::post;
    request.parameterEncoding = (selector & 0x80) ? ParameterEncoding::urlEncoded : ParameterEncoding::json;
    request.params = QJsonObject{{QStringLiteral("email"), QStringLiteral("a@b.example")},
                                 {QStringLiteral("note"), inputText},
                                 {QStringLiteral("activationCode"), activationCode},
                                 {QStringLiteral("pin"), pinDigest}};
    request.logger.logLevel = NetworkingLogLevel::debug;
    lines().clear();

    request.reply.data = withPlantedCode(input, selector & 0x40);
    request.reply.response = URLResponse{QUrl(request.baseURL + request.route), status, {}};
    complete(request);
    for (const QString& line : std::as_const(lines())) {
        if (leaks(line)) {
            std::fprintf(stderr, "secret in: %s\n", qPrintable(line));
            __builtin_trap();
        }
    }
    return 0;
}
