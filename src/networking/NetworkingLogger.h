#pragma once

#include "URLLoading.h"

#include <functional>

enum class NetworkingLogLevel { off, info, debug };

// Prints the client's traffic to standard output for developers, each line in its quoted debug form. Values
// of secret members (activation code, PIN, one-time code, sign-in code and second code, private key) in
// bodies are masked.
class NetworkingLogger {
public:
    NetworkingLogger() = default;
    virtual ~NetworkingLogger() = default;

    NetworkingLogLevel logLevel = NetworkingLogLevel::off;

    virtual void log(const URLRequest& request);
    virtual void log(const URLResponse* response, const QByteArray& data);

    // The request as a ready-to-paste shell command; empty when it has no URL.
    QString curlCommand(const URLRequest& request) const;

    // The text in double quotes, with \\ \" \' \t \r \n \0 and \u{...} escapes.
    static QString debugForm(const QString& text);

    // Where the lines go; standard output unless a test redirects them. Pass nothing to restore.
    using Output = std::function<void(const QString& line)>;
    static void setOutput(Output output);

protected:
    static void print(const QString& line);
};
