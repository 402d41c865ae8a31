#include "RecordingCrashReporter.h"

QStringList RecordingCrashReporter::logLines() const {
    QStringList lines;
    for (const Call& c : calls)
        if (c.kind == Call::log)
            lines << c.first;
    return lines;
}

QList<ExceptionModel> RecordingCrashReporter::records() const {
    QList<ExceptionModel> models;
    for (const Call& c : calls)
        if (c.kind == Call::record)
            models.append({c.first, c.second});
    return models;
}

std::shared_ptr<RecordingCrashReporter> RecordingCrashReporter::install() {
    auto recorder = std::make_shared<RecordingCrashReporter>();
    CrashReporter::setShared(recorder);
    return recorder;
}
