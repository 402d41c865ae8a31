#pragma once

#include "app/WindowController.h"

#include <QStringList>
#include <QUrl>

// Records every window operation in order ("miniaturize", "restore", "closeOthers", "open <url>") and
// answers as a window set whose key window and first window can be switched off.
class RecordingWindowController final : public WindowController {
public:
    bool hasKeyWindow = true;
    bool hasWindows = true;
    QStringList calls;
    QList<QUrl> openedLinks;

    bool miniaturizeKeyWindow() override {
        if (!hasKeyWindow)
            return false;
        calls.append(QStringLiteral("miniaturize"));
        return true;
    }
    bool restoreFirstWindow() override {
        if (!hasWindows)
            return false;
        calls.append(QStringLiteral("restore"));
        return true;
    }
    void closeAllButFirstWindow() override { calls.append(QStringLiteral("closeOthers")); }
    void openInBrowser(const QUrl& url) override {
        calls.append(QStringLiteral("open ") + url.toString());
        openedLinks.append(url);
    }
};
