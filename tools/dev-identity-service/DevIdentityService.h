#pragma once

#include "IdentityServiceDouble.h"
#include "SignatureCheckingService.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <optional>

// The identity service for trying the client on this machine: the loopback double with its signature
// checks, seeded with one organisation and one user who may enrol with a printed activation code, and a
// page at /dev/ whose plain forms start web sign-ins for the client to approve. Devices registered with it
// are kept in a state file, so a restarted service still knows the users a client kept.
//
// An activation code enrols one device: once a registration with it has succeeded, the code is used up
// and answered as unknown (result code 9), as the real service does. POST /dev/activation-code issues a
// new one, for the seeded e-mail or for the address given as ?email=, a new user of the organisation.
// POST /dev/policy?<name>=<value>... changes values of the desktop policy that the version reply carries.
// POST /dev/outage?on=1 answers every API request with 503 until ?on=0, as a service that is down.
// A POST to /dev/ that a page of another site sent (its Origin or Referer names another origin) is refused
// with 403 and changes nothing; the page's own forms and scripts without those headers are served.
class DevIdentityService : public QObject {
    Q_OBJECT

public:
    struct Seed {
        QString orgCode = QStringLiteral("QVDEV");
        QString orgName = QStringLiteral("Quorvale Development");
        QString email = QStringLiteral("new.user@example.com");
        QString activationCode;
        // Both versions the service reports; the client offers no update when they equal its own.
        QString latestVersion;
        QString minimumVersion;
        // The desktop idle time in minutes from the start, in place of the default; /dev/policy still
        // changes it.
        std::optional<int> idleMinutes;
    };

    // `statePath` empty: nothing is kept between runs.
    DevIdentityService(Seed seed, QString statePath, QObject* parent = nullptr);

    // Listens on 127.0.0.1 at `port` (0: a free one), over TLS when a certificate is given.
    bool start(quint16 port, const QSslCertificate& certificate = QSslCertificate(),
               const QSslKey& key = QSslKey());
    quint16 port() const { return m_double.port(); }
    QString baseURL() const { return m_double.baseURL(); }
    const Seed& seed() const { return m_seed; }

    // A new web sign-in waiting for a device's approval; answers its code. With a second code, the device's
    // verification is answered with a request for it (see secondCode()).
    QString startWebSignIn(bool withSecondCode = false);
    // The two digits a sign-in started with a second code expects; empty otherwise.
    QString secondCode(const QString& code) const;
    // Whether a device approved the sign-in with this code.
    bool isApproved(const QString& code) const;

    // What the service received so far: one JSON object per API request and line, with the route, the
    // result code of the reply and, for signed routes, whether the signature verified; and the devices
    // registered now. Served at /dev/received.
    QByteArray receivedRecord() const;

    // Six digits, as the registration screen expects.
    static QString makeActivationCode();

    // A new activation code for `email` (a new user of the organisation unless it is the seeded one).
    QString issueActivationCode(const QString& email);

private:
    std::optional<ScriptedReply> handle(const ReceivedRequest& request);
    // Whether a browser sent the request from a page that is not this service's own: its Origin, or its
    // Referer when it has no Origin, names another scheme, host or port.
    bool isFromAnotherSite(const ReceivedRequest& request) const;
    std::optional<ScriptedReply> handleApi(const ReceivedRequest& request);
    ScriptedReply handleDevPage(const ReceivedRequest& request);
    // The page that shows a started sign-in: its code, its link and whether a device approved it.
    ScriptedReply signInPage(const QString& code) const;
    ScriptedReply validate(const QJsonObject& body) const;
    ScriptedReply registerDevice(const ReceivedRequest& request, const QJsonObject& body);
    ScriptedReply verify(const QJsonObject& body) const;
    ScriptedReply confirm(const QJsonObject& body);
    // The texts the second code in `body` may have been typed as, for its signature check: the issued code
    // when its number is the one sent, the number as written, the number with the issued code's length.
    QStringList secondCodeTexts(const QJsonObject& body) const;
    ScriptedReply validateSecondCode(const QJsonObject& body);
    ScriptedReply manageDevice(const QJsonObject& body);
    ScriptedReply versionReply() const;
    // The default desktop policy with the seed's idle time and the values /dev/policy changed.
    QJsonObject desktopPolicy() const;
    ScriptedReply usersNotExist(const QByteArray& body) const;
    // The development set-up routes (new activation codes, policy values); nothing for other routes.
    std::optional<ScriptedReply> handleDevSetup(const ReceivedRequest& request);
    // Refuses a validation or registration whose e-mail or activation code the service does not take.
    std::optional<ScriptedReply> refuseActivation(const QJsonObject& body) const;
    void loadState();
    void saveState() const;

    Seed m_seed;
    QString m_statePath;
    IdentityServiceDouble m_double;
    SignatureCheckingService m_checks{m_double};
    // zid -> public key of every device registered.
    QHash<QString, QString> m_devices;
    struct SignIn {
        bool approved = false;
        QString secondCode;
    };
    QHash<QString, SignIn> m_signIns; // by code
    // Activation codes not used yet, with the e-mail each enrols; and every e-mail given a code.
    QHash<QString, QString> m_activationCodes;
    QSet<QString> m_users;
    // Desktop policy values that replace the defaults of the version reply.
    QHash<QString, QString> m_policy;
    bool m_outage = false;
    // Every API request, in arrival order, with the signature check's verdict where one ran, so that a
    // test driving the client can see what reached the service.
    struct Received {
        QString route;
        bool signedRoute = false;
        bool verified = false;
        int resultCode = -1;
    };
    QList<Received> m_received;
};
