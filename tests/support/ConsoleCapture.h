#pragma once

#include "Console.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

// Collects the program's standard-output trace lines for as long as it lives.
class ConsoleCapture {
public:
    ConsoleCapture() {
        console::setSink([this](const QString& line) {
            QMutexLocker lock(&m_mutex);
            m_lines << line;
        });
    }
    ~ConsoleCapture() { console::setSink({}); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    QStringList lines() const {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    void clear() {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};
