#pragma once

#include "platform/CrashReporting.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <memory>

// Records what the program tells the crash-reporting service, in order.
class RecordingCrashReporter final : public CrashReporter {
public:
    struct Call {
        enum Kind { log, customValue, record } kind;
        QString first;  // the line, the value, or the exception name
        QString second; // the custom value's key, or the exception reason
    };

    void log(const QString& line) override { calls.append({Call::log, line, {}}); }
    void setCustomValue(const QString& value, const QString& key) override {
        calls.append({Call::customValue, value, key});
    }
    void record(const ExceptionModel& exception) override {
        calls.append({Call::record, exception.name, exception.reason});
    }

    QStringList logLines() const;
    QList<ExceptionModel> records() const;

    // Installs a fresh recorder as the shared service and returns it.
    static std::shared_ptr<RecordingCrashReporter> install();

    QList<Call> calls;
};
