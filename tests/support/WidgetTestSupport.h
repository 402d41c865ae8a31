#pragma once

// Shared by the widget tests: an app state on a throw-away user store, running the queued focus requests,
// and saving what a widget shows.

#include "app/AppViewModel.h"
#include "platform/Console.h"
#include "storage/CoreDataManager.h"
#include "ui/controls/SemanticColor.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

namespace widgettest {

// The lines the program printed to standard output since the test program started; tests clear it.
inline QStringList& consoleLines() {
    static QStringList lines;
    return lines;
}

// An app state over an empty store in a temporary directory (one per test program).
inline std::unique_ptr<AppViewModel> makeAppViewModel() {
    static QTemporaryDir directory;
    static const bool configured = [] {
        QStandardPaths::setTestModeEnabled(true);
        console::setSink([](const QString& line) { consoleLines().append(line); });
        PersistentContainer::Options options;
        options.storePath = directory.filePath(QStringLiteral("QVModel.sqlite"));
        return CoreDataManager::configure(options);
    }();
    Q_UNUSED(configured);
    auto model = std::make_unique<AppViewModel>(nullptr);
    model->setTestMode(true);
    return model;
}

// Runs what the event loop has queued, such as setFocusedField() and focus orders, and what those queue.
inline void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::sendPostedEvents();
}

// Publishes `field` as the focused field, as a screen's call would once the event loop runs.
inline void publishFocus(AppViewModel& model, std::optional<Field> field) {
    model.setFocusedField(field);
    settle();
}

// Shows `window` as the active window, so that it takes the keyboard; false when it never became active.
inline bool showActive(QWidget& window) {
    window.show();
    QApplication::setActiveWindow(&window);
    return QTest::qWaitForWindowActive(&window);
}

// Gives a test's window the real window's look and nothing more: a screen or control shown in it paints
// its own background, or the picture shows that it does not.
inline void useWindowLook(QWidget& host) {
    host.setPalette(windowPalette(host.palette()));
    host.setAutoFillBackground(true);
}

// Saves what `widget` shows to screenshots/<name>.png beside the test program; the path written.
inline QString saveScreenshot(QWidget& widget, const QString& name) {
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    // Written aside and renamed into place, so a run of the same test at the same time never reads half a
    // picture.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !widget.grab().save(&file, "PNG") || !file.commit())
        return QString();
    return path;
}

} // namespace widgettest
