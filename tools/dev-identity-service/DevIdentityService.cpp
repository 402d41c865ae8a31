#include "DevIdentityService.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

namespace {

const QString api = QStringLiteral("/api/v1/");

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

ScriptedReply success(QJsonObject fields = {}) {
    fields.insert("errorCode", 0);
    fields.insert("resultCode", 0);
    return ScriptedReply::json(200, compact(fields));
}

ScriptedReply refusal(int resultCode) {
    return ScriptedReply::json(200, compact({{"errorCode", 1}, {"resultCode", resultCode}}));
}

// The result codes the client knows for these refusals.
constexpr int orgEmailNotFound = 8;
constexpr int activationCodeNotFound = 9;
constexpr int idDoesNotExist = 21;
constexpr int invalidValidationCode = 22;

QString randomText(const QString& alphabet, int length) {
    QString text;
    for (int i = 0; i < length; ++i)
        text.append(alphabet.at(QRandomGenerator::system()->bounded(int(alphabet.size()))));
    return text;
}

bool isDevPath(const QString& path) {
    return path == QLatin1String("/dev") || path.startsWith(QLatin1String("/dev/"));
}

QString text(const QJsonObject& body, const char* key) {
    return body.value(QLatin1String(key)).toString();
}

// Plain HTML forms, no script: a text browser, curl or a browser with scripts off starts a sign-in as well.
const char* const pageHead = R"HTML(<!doctype html>
<html lang="en"><head><meta charset="utf-8">REFRESH<title>QuorvaleID development sign-in</title>
<style>
 body { background:#141414; color:#f2f2f2; font-family:Inter,system-ui,sans-serif; max-width:40em; margin:3em auto; }
 button { background:#f5c400; color:#141414; border:0; border-radius:6px; padding:.7em 1.4em; font-size:1em; cursor:pointer; }
 button.other { background:#3a3a3a; color:#f2f2f2; }
 form { display:inline-block; margin:0 .6em .6em 0; }
 code { font-size:2em; letter-spacing:.15em; color:#f5c400; }
 a { color:#9ecbff; } .muted { color:#9a9a9a; }
</style></head><body>
<h1>Sign in to the development web site</h1>
)HTML";

const char* const startForms = R"HTML(<p class="muted">Organisation ORG_NAME. Start a sign-in, then approve it in the QuorvaleID window: type its
code on the home screen, or open its link to hand it over.</p>
<form method="post" action="/dev/sign-in"><button type="submit">Start a web sign-in</button></form>
<form method="post" action="/dev/sign-in?secondCode=1"><button class="other" type="submit">Start one that asks
for a second code</button></form>
)HTML";

// The desktop policy the version reply carries unless /dev/policy changed a value. The idle time leaves a
// person room to read the run guide and start a sign-in in a browser before the window locks.
QJsonObject defaultDesktopPolicy() {
    return {{"desktopUserInActivityThreshold", "30"}, {"desktopMaxSession", "60"},
            {"desktopIdleSession", "15"},              {"desktopForceLogout", "2"},
            {"maxLoginAttempts", "3"},                 {"lockoutDurationMinutes", "30"},
            {"maxRemoveAccountLoginAttempts", "5"},    {"desktopAppScreenShareDisabled", "false"}};
}

// Seconds between the answer page's own reloads while the sign-in waits for a device.
constexpr int pageRefreshSeconds = 2;

} // namespace

DevIdentityService::DevIdentityService(Seed seed, QString statePath, QObject* parent)
    : QObject(parent)
    , m_seed(std::move(seed))
    , m_statePath(std::move(statePath)) {
    if (m_seed.activationCode.isEmpty())
        m_seed.activationCode = makeActivationCode();
    m_activationCodes.insert(m_seed.activationCode, m_seed.email.toLower());
    m_users.insert(m_seed.email.toLower());
    loadState();
    m_checks.setCodeTexts([this](const QJsonObject& body) { return secondCodeTexts(body); });
    m_double.setRecording(false);
    m_double.setHandler([this](const ReceivedRequest& request) { return handle(request); });
}

QString DevIdentityService::makeActivationCode() {
    return randomText(QStringLiteral("0123456789"), 6);
}

bool DevIdentityService::start(quint16 port, const QSslCertificate& certificate, const QSslKey& key) {
    if (!certificate.isNull())
        m_double.useTls(certificate, key);
    return m_double.start(port);
}

QString DevIdentityService::startWebSignIn(bool withSecondCode) {
    // No letters or digits that read alike.
    const QString code = randomText(QStringLiteral("ABCDEFGHJKMNPQRSTUVWXYZ23456789"), 6);
    // Two digits without a leading zero, so that the number the client sends reads back the same.
    m_signIns.insert(code, {false, withSecondCode ? QString::number(QRandomGenerator::system()->bounded(10, 100))
                                                  : QString()});
    return code;
}

bool DevIdentityService::isApproved(const QString& code) const {
    return m_signIns.value(code.toUpper()).approved;
}

QString DevIdentityService::secondCode(const QString& code) const {
    return m_signIns.value(code.toUpper()).secondCode;
}

bool DevIdentityService::isFromAnotherSite(const ReceivedRequest& request) const {
    std::optional<QByteArray> source = request.header("origin");
    if (!source)
        source = request.header("referer");
    if (!source)
        return false; // curl, a script: no page sent it
    const QUrl url(QString::fromLatin1(source->trimmed()), QUrl::StrictMode);
    const QUrl own(baseURL());
    // The service listens on 127.0.0.1 only, so a browser on this machine reaches it under that address or
    // as localhost; any other name (one that a foreign site made resolve here included) is another site.
    const QString host = url.host();
    const bool ownHost = host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost");
    const int defaultPort = own.scheme() == QLatin1String("https") ? 443 : 80;
    return !url.isValid() || url.scheme() != own.scheme() || !ownHost ||
           url.port(defaultPort) != own.port(defaultPort);
}

std::optional<ScriptedReply> DevIdentityService::handle(const ReceivedRequest& request) {
    // A page of any site can post a form here without the user's knowledge, and a policy or an outage set
    // here reaches the client on its next request: only the service's own page and scripts change state.
    if (isDevPath(request.path) && request.method != QLatin1String("GET") &&
        request.method != QLatin1String("HEAD") && isFromAnotherSite(request))
        return ScriptedReply::json(403, compact({{"error", "a page of another site changes nothing here"}}));
    if (const std::optional<ScriptedReply> setUp = handleDevSetup(request))
        return setUp;
    if (isDevPath(request.path))
        return handleDevPage(request);
    if (!request.path.startsWith(api) || request.method != QLatin1String("POST"))
        return ScriptedReply::json(404, "{}");
    const qsizetype checksBefore = m_checks.checks().size();
    const std::optional<ScriptedReply> reply = handleApi(request);
    Received received{request.route().mid(api.size())};
    if (m_checks.checks().size() > checksBefore) {
        received.signedRoute = true;
        received.verified = m_checks.checks().last().verified;
    }
    if (reply) {
        const QJsonValue resultCode = QJsonDocument::fromJson(reply->body).object().value("resultCode");
        if (resultCode.isDouble())
            received.resultCode = resultCode.toInt();
    }
    m_received.append(received);
    return reply;
}

std::optional<ScriptedReply> DevIdentityService::handleApi(const ReceivedRequest& request) {
    if (m_outage)
        return ScriptedReply::json(503, "{}");
    const QString route = request.route().mid(api.size());
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();

    if (route == QLatin1String("user/registration/validate"))
        return validate(body);
    if (route == QLatin1String("desktop/user/register"))
        return registerDevice(request, body);
    if (route.startsWith(QLatin1String("desktop/initialize?requestType=version")))
        return versionReply();
    if (route == QLatin1String("desktop/initialize?requestType=usersNotExist"))
        return usersNotExist(request.body);

    // Everything else is signed by a registered device key.
    if (const std::optional<ScriptedReply> refused = m_checks.handle(request))
        return refused;
    if (route == QLatin1String("verify/did"))
        return verify(body);
    if (route == QLatin1String("confirm/qid"))
        return confirm(body);
    if (route == QLatin1String("verify/validationCode"))
        return validateSecondCode(body);
    if (route == QLatin1String("device/manage"))
        return manageDevice(body);
    return ScriptedReply::json(404, "{}");
}

std::optional<ScriptedReply> DevIdentityService::refuseActivation(const QJsonObject& body) const {
    const QString email = text(body, "orgEmail").toLower();
    if (!m_users.contains(email))
        return refusal(orgEmailNotFound);
    // A used code is unknown from then on, like one never issued.
    const auto code = m_activationCodes.constFind(text(body, "activationCode"));
    if (code == m_activationCodes.constEnd() || *code != email)
        return refusal(activationCodeNotFound);
    return std::nullopt;
}

ScriptedReply DevIdentityService::validate(const QJsonObject& body) const {
    if (const std::optional<ScriptedReply> refused = refuseActivation(body))
        return *refused;
    return success({{"orgCode", m_seed.orgCode}});
}

ScriptedReply DevIdentityService::registerDevice(const ReceivedRequest& request, const QJsonObject& body) {
    if (const std::optional<ScriptedReply> refused = refuseActivation(body))
        return *refused;
    const QString zid = text(body, "zid");
    const QString publicKey = text(body, "publicKey");
    if (zid.isEmpty() || publicKey.isEmpty())
        return refusal(1);
    const QString id = QUuid::createUuid().toString(QUuid::Id128).left(12).toUpper();
    m_checks.enrolAs(QStringLiteral("S-") + id, QStringLiteral("P-") + id, m_seed.orgCode);
    // The check keeps the key under the zid and answers with the enrolled user.
    const std::optional<ScriptedReply> reply = m_checks.handle(request);
    m_devices.insert(zid, publicKey);
    saveState();
    if (!reply)
        return refusal(1);
    m_activationCodes.remove(text(body, "activationCode"));
    QJsonObject user = QJsonDocument::fromJson(reply->body).object();
    user.insert("orgName", m_seed.orgName);
    user.insert("email", text(body, "orgEmail").toLower());
    return ScriptedReply::json(200, compact(user));
}

ScriptedReply DevIdentityService::verify(const QJsonObject& body) const {
    const auto signIn = m_signIns.constFind(text(body, "uniqueId").toUpper());
    if (signIn == m_signIns.constEnd())
        return refusal(idDoesNotExist);
    // Without an action the client asks its user for the second code.
    if (!signIn->secondCode.isEmpty())
        return success({{"org", m_seed.orgCode}, {"ttl", 60}});
    // The device confirms at once.
    return success({{"org", m_seed.orgCode}, {"action", "confirm"}});
}

ScriptedReply DevIdentityService::confirm(const QJsonObject& body) {
    const auto signIn = m_signIns.find(text(body, "uniqueId").toUpper());
    if (signIn == m_signIns.end() || !signIn->secondCode.isEmpty())
        return refusal(idDoesNotExist);
    signIn->approved = true;
    return success();
}

QStringList DevIdentityService::secondCodeTexts(const QJsonObject& body) const {
    const QJsonValue value = body.value("validationCode");
    if (!value.isDouble())
        return {};
    const QString number = QString::number(value.toInteger());
    const QString issued = m_signIns.value(text(body, "uniqueId").toUpper()).secondCode;
    bool isNumber = false;
    QStringList texts;
    if (issued.toLongLong(&isNumber) == value.toInteger() && isNumber)
        texts.append(issued);
    texts.append(number);
    // A wrong code typed with leading zeros, as many digits as the issued one has.
    if (value.toInteger() >= 0 && issued.size() > number.size())
        texts.append(number.rightJustified(issued.size(), QLatin1Char('0')));
    texts.removeDuplicates();
    return texts;
}

ScriptedReply DevIdentityService::validateSecondCode(const QJsonObject& body) {
    const auto signIn = m_signIns.find(text(body, "uniqueId").toUpper());
    if (signIn == m_signIns.end() || signIn->secondCode.isEmpty())
        return refusal(idDoesNotExist);
    const QJsonValue typed = body.value("validationCode");
    if (!typed.isDouble() || QString::number(typed.toInteger()) != signIn->secondCode)
        return refusal(invalidValidationCode);
    signIn->approved = true;
    return success();
}

ScriptedReply DevIdentityService::manageDevice(const QJsonObject& body) {
    m_devices.remove(text(body, "zid"));
    saveState();
    return success();
}

QJsonObject DevIdentityService::desktopPolicy() const {
    QJsonObject policy = defaultDesktopPolicy();
    if (m_seed.idleMinutes)
        policy.insert("desktopIdleSession", QString::number(*m_seed.idleMinutes));
    for (auto it = m_policy.cbegin(); it != m_policy.cend(); ++it)
        policy.insert(it.key(), it.value());
    return policy;
}

ScriptedReply DevIdentityService::versionReply() const {
    return success(
        {{"version", QJsonObject{{"min", m_seed.minimumVersion}, {"latest", m_seed.latestVersion}}},
         {"desktopConfig", desktopPolicy()}});
}

ScriptedReply DevIdentityService::usersNotExist(const QByteArray& body) const {
    QJsonArray gone;
    for (const QJsonValue& user : QJsonDocument::fromJson(body).array()) {
        const QString zid = user.toObject().value("zid").toString();
        if (!m_devices.contains(zid))
            gone.append(user);
    }
    return success({{"nonExistingUsers", QJsonObject{{"resultCode", 0}, {"userToDelete", gone}}}});
}

namespace {

// A browser's form post, or a browser asking for a page, gets a page; a script (`curl -X POST`, a test)
// gets JSON.
bool wantsPage(const ReceivedRequest& request) {
    const QByteArray type = request.header("content-type").value_or(QByteArray()).trimmed().toLower();
    if (type.startsWith("application/x-www-form-urlencoded") || type.startsWith("multipart/form-data"))
        return true;
    return request.header("accept").value_or(QByteArray()).toLower().contains("text/html");
}

ScriptedReply page(int status, const QByteArray& refresh, const QByteArray& body) {
    return {status, QByteArray(pageHead).replace("REFRESH", refresh) + body + "</body></html>\n",
            "text/html; charset=utf-8", false};
}

} // namespace

ScriptedReply DevIdentityService::signInPage(const QString& code) const {
    const QByteArray escaped = code.toHtmlEscaped().toUtf8();
    const QByteArray link = QStringLiteral("quorvaleid://sign-in?id=%1").arg(code).toHtmlEscaped().toUtf8();
    QByteArray body = "<p>Code: <code id=\"code\">" + escaped + "</code></p>\n<p><a id=\"link\" href=\"" + link +
                      "\">" + link + "</a></p>\n";
    const QString second = secondCode(code);
    if (!second.isEmpty())
        body += "<p>Second code, for when the client asks for it: <code id=\"secondCode\">" +
                second.toHtmlEscaped().toUtf8() + "</code></p>\n";
    QByteArray refresh;
    if (isApproved(code)) {
        body += "<p id=\"status\">Signed in: the device approved it.</p>\n";
    } else {
        // The page looks again by itself, so that no script is needed to see the approval.
        refresh = "<meta http-equiv=\"refresh\" content=\"" + QByteArray::number(pageRefreshSeconds) +
                  "; url=/dev/sign-in/" + escaped + "\">";
        body += "<p id=\"status\" class=\"muted\">Waiting for the approval&hellip; this page looks again every " +
                QByteArray::number(pageRefreshSeconds) + " seconds.</p>\n";
    }
    body += "<p><a href=\"/dev/\">Start another sign-in</a></p>\n";
    return page(200, refresh, body);
}

ScriptedReply DevIdentityService::handleDevPage(const ReceivedRequest& request) {
    if (request.path == QLatin1String("/dev") || request.path == QLatin1String("/dev/")) {
        return page(200, {}, QByteArray(startForms).replace("ORG_NAME", m_seed.orgName.toHtmlEscaped().toUtf8()));
    }
    if (request.path == QLatin1String("/dev/sign-in") && request.method == QLatin1String("POST")) {
        const bool withSecondCode = QUrlQuery(request.query).queryItemValue("secondCode") == QLatin1String("1");
        const QString code = startWebSignIn(withSecondCode);
        if (wantsPage(request))
            return signInPage(code);
        QJsonObject reply{{"code", code}, {"link", QStringLiteral("quorvaleid://sign-in?id=") + code}};
        if (withSecondCode)
            reply.insert("secondCode", secondCode(code));
        return ScriptedReply::json(200, compact(reply));
    }
    if (request.path == QLatin1String("/dev/received") && request.method == QLatin1String("GET"))
        return ScriptedReply::json(200, receivedRecord());
    const QString prefix = QStringLiteral("/dev/sign-in/");
    if (request.path.startsWith(prefix)) {
        const QString code = request.path.mid(prefix.size()).toUpper();
        if (!m_signIns.contains(code)) {
            if (wantsPage(request))
                return page(404, {}, "<p>No sign-in has this code.</p>\n<p><a href=\"/dev/\">Start one</a></p>\n");
            return ScriptedReply::json(404, compact({{"status", "unknown"}}));
        }
        if (wantsPage(request))
            return signInPage(code);
        return ScriptedReply::json(200, compact({{"status", isApproved(code) ? "approved" : "pending"}}));
    }
    return ScriptedReply::json(404, "{}");
}

QString DevIdentityService::issueActivationCode(const QString& email) {
    QString code;
    do
        code = makeActivationCode();
    while (m_activationCodes.contains(code));
    m_activationCodes.insert(code, email.toLower());
    m_users.insert(email.toLower());
    return code;
}

std::optional<ScriptedReply> DevIdentityService::handleDevSetup(const ReceivedRequest& request) {
    if (request.method != QLatin1String("POST"))
        return std::nullopt;
    const QUrlQuery query(request.query);
    if (request.path == QLatin1String("/dev/activation-code")) {
        const QString email =
            query.hasQueryItem("email") ? query.queryItemValue("email", QUrl::FullyDecoded) : m_seed.email;
        if (!email.contains(QLatin1Char('@')))
            return ScriptedReply::json(400, compact({{"error", "email is not an address"}}));
        const QString code = issueActivationCode(email);
        return ScriptedReply::json(200, compact({{"email", email.toLower()}, {"activationCode", code}}));
    }
    if (request.path == QLatin1String("/dev/policy")) {
        const QJsonObject defaults = defaultDesktopPolicy();
        QHash<QString, QString> values;
        for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded)) {
            if (!defaults.contains(name))
                return ScriptedReply::json(400, compact({{"error", "no policy value " + name}}));
            values.insert(name, value);
        }
        m_policy.insert(values);
        return ScriptedReply::json(200, compact(desktopPolicy()));
    }
    if (request.path == QLatin1String("/dev/outage")) {
        m_outage = query.queryItemValue("on") == QLatin1String("1");
        return ScriptedReply::json(200, compact({{"outage", m_outage}}));
    }
    return std::nullopt;
}

// One request per line, so that a shell script can pick lines with grep.
QByteArray DevIdentityService::receivedRecord() const {
    QByteArrayList requests;
    for (const Received& received : m_received)
        requests.append(compact({{"route", received.route},
                                 {"signed", received.signedRoute},
                                 {"verified", received.verified},
                                 {"resultCode", received.resultCode}}));
    QJsonArray devices;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it)
        devices.append(it.key());
    return "{\"devices\":" + QJsonDocument(devices).toJson(QJsonDocument::Compact) + ",\n\"requests\":[\n" +
           requests.join(",\n") + "\n]}\n";
}

void DevIdentityService::loadState() {
    if (m_statePath.isEmpty())
        return;
    QFile file(m_statePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject devices = QJsonDocument::fromJson(file.readAll()).object().value("devices").toObject();
    for (auto it = devices.begin(); it != devices.end(); ++it) {
        m_devices.insert(it.key(), it.value().toString());
        m_checks.registerKey(it.key(), it.value().toString());
    }
}

void DevIdentityService::saveState() const {
    if (m_statePath.isEmpty())
        return;
    QJsonObject devices;
    for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it)
        devices.insert(it.key(), it.value());
    QDir().mkpath(QFileInfo(m_statePath).absolutePath());
    QSaveFile file(m_statePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QJsonDocument(QJsonObject{{"devices", devices}}).toJson());
    file.commit();
}
