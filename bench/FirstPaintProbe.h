#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

// Watches a window for its first painted frame: once the paint has been flushed, prints
// "painted <CLOCK_REALTIME ns> <peak resident kB>" and ends the program. The start-up benchmark's two
// programs (the client and a bare window) use it alike.
class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QWidget& window)
        : QObject(&window) {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Queued, so it runs after this frame's painting and flush are done.
            QTimer::singleShot(0, qApp, [] { report(); });
        }
        return false;
    }

private:
    static long peakResidentKiB() {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toLong();
        return -1;
    }

    static void report() {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        std::printf("painted %lld %ld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec,
                    peakResidentKiB());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    }

    bool m_seen = false;
};
