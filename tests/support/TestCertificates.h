#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>

#include <optional>

// A certificate authority and a server certificate for 127.0.0.1 and localhost, made fresh with the
// openssl tool for one test run.
struct TestCertificates {
    QSslCertificate authority;
    QSslCertificate server;
    QSslKey serverKey;
    QSslCertificate otherServer; // same names, another key
    QSslKey otherServerKey;
    QSslCertificate unrelatedAuthority; // an authority of its own that signed nothing here

    // Nothing when the openssl tool is missing or fails.
    static std::optional<TestCertificates> generate(QString* error = nullptr);
};
