#pragma once

#include <QUrl>

// The window operations the app state needs. The window shell implements them over the real window;
// without a shell there is no window, so every operation finds nothing to act on.
class WindowController {
public:
    virtual ~WindowController() = default;

    // Minimises the window that has the keyboard, as its minimise button would; false (and nothing
    // done) when no window has the keyboard.
    virtual bool miniaturizeKeyWindow() = 0;
    // Unhides the application and brings its first window to the front as the key window; false (and
    // nothing done) when the application has no window.
    virtual bool restoreFirstWindow() = 0;
    // Closes every window but the first.
    virtual void closeAllButFirstWindow() = 0;
    // Opens the link in the user's default browser.
    virtual void openInBrowser(const QUrl& url) = 0;
};
