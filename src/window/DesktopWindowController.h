#pragma once

#include "app/WindowController.h"

#include <QPointer>

class QWidget;

// The app state's window operations over the program's one window.
class DesktopWindowController final : public WindowController {
public:
    explicit DesktopWindowController(QWidget& window);

    bool miniaturizeKeyWindow() override;
    bool restoreFirstWindow() override;
    void closeAllButFirstWindow() override;
    void openInBrowser(const QUrl& url) override;

private:
    QPointer<QWidget> m_window;
};
