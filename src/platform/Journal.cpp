#include "Journal.h"

#include <systemd/sd-journal.h>

#include <syslog.h>

namespace journal {

namespace {

int syslogPriority(Priority priority) {
    switch (priority) {
    case Priority::debug: return LOG_DEBUG;
    case Priority::info: return LOG_INFO;
    case Priority::notice: return LOG_NOTICE;
    case Priority::error: return LOG_ERR;
    case Priority::critical: return LOG_CRIT;
    }
    return LOG_NOTICE;
}

} // namespace

void send(Priority priority, const QString& subsystem, const QString& category, const QString& message) {
    const QByteArray text = message.toUtf8();
    const QByteArray sub = subsystem.toUtf8();
    const QByteArray cat = category.toUtf8();
    sd_journal_send("MESSAGE=%s", text.constData(), "PRIORITY=%i", syslogPriority(priority),
                    "QUORVALE_SUBSYSTEM=%s", sub.constData(), "QUORVALE_CATEGORY=%s", cat.constData(),
                    "SYSLOG_IDENTIFIER=%s", sub.constData(), nullptr);
}

} // namespace journal
