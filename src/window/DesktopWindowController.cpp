#include "DesktopWindowController.h"

#include <QApplication>
#include <QDesktopServices>
#include <QWidget>

DesktopWindowController::DesktopWindowController(QWidget& window)
    : m_window(&window) {}

bool DesktopWindowController::miniaturizeKeyWindow() {
    QWidget* keyWindow = QApplication::activeWindow();
    if (!keyWindow)
        return false;
    keyWindow->showMinimized();
    return true;
}

bool DesktopWindowController::restoreFirstWindow() {
    if (!m_window)
        return false;
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    return true;
}

void DesktopWindowController::closeAllButFirstWindow() {
    // The program opens one top-level window; any other (a stray dialog) goes.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget != m_window && widget->isWindow() && widget->isVisible())
            widget->close();
    }
}

void DesktopWindowController::openInBrowser(const QUrl& url) {
    QDesktopServices::openUrl(url);
}
