#pragma once

#include "KeyDispatcher.h"

#include <QObject>

class QWidget;

// Registers a key handler while `owner` is shown and removes it when `owner` is hidden or destroyed, so a
// screen shown, left and shown again has exactly one handler. Parented to `owner`.
class KeyMonitor : public QObject {
    Q_OBJECT

public:
    KeyMonitor(QWidget* owner, KeyHandler handler);

    bool isInstalled() const { return static_cast<bool>(m_registration); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_owner;
    KeyHandler m_handler;
    KeyDispatcher::Registration m_registration;
};
