#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace rx {

void postToMainThread(std::function<void()> work) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        work();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

} // namespace rx
