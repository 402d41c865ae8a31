#pragma once

#include "flows/FlowFixture.h"
#include "ui/controls/SemanticColor.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

// A screen on the real view models, in a window of the shell's content size, with the identity-service
// double, the manual clock and the in-memory key store of FlowFixture underneath.
class ScreenFixture : public FlowFixture {
public:
    static constexpr int contentWidth = 800;
    static constexpr int contentHeight = 400;

    // Call once per test program, before the first store or key operation.
    static void setUpProcess(QTemporaryDir& dir, std::shared_ptr<KeyStore> keyStore) {
        FlowFixture::setUpProcess(dir, std::move(keyStore));
        console::setSink([](const QString& line) { consoleLines().append(line); });
    }

    // The enrolled user the screens work with, its PIN "135792".
    static AuthResponse enrolledUser() { return FlowFixture::enrolledUser(KeyChain::sha256Hex("135792")); }

    // The device key of `user` (made when there is none) as the PEM the service checks it by; empty when
    // the key store yields none.
    static QString deviceKeyPem(const AuthResponse& user) {
        const auto pair = KeyChain::getOrCreateKeyPair(*user.primaryAttr + "||" + *user.pin);
        if (!pair)
            return QString();
        return KeyChain::publicKeyString(pair->publicKey).value_or(QString());
    }

    // The lines printed to standard output since the last clear.
    static QStringList& consoleLines() {
        static QStringList lines;
        return lines;
    }

    ScreenFixture() {
        // The window's look and nothing more: the screen paints its own background.
        host.setPalette(windowPalette(host.palette()));
        host.setAutoFillBackground(true);
        host.resize(contentWidth, contentHeight);
        new QVBoxLayout(&host);
        host.layout()->setContentsMargins(0, 0, 0, 0);
        consoleLines().clear();
    }

    ~ScreenFixture() { delete screen; }

    // Puts `widget` into the window and shows it.
    template <typename Screen> Screen* show(Screen* widget) {
        screen = widget;
        host.layout()->addWidget(widget);
        host.show();
        host.activateWindow();
        (void)QTest::qWaitForWindowActive(&host);
        settle();
        return widget;
    }

    // Stores `users` and loads them into the app state, as at start-up. A user given a display e-mail of
    // its own gets it as enrolment does: the store qualifies a shared address by the organisation.
    void storeUsers(const std::vector<AuthResponse>& users) {
        for (const AuthResponse& user : users)
            CoreDataManager::shared().saveAuthResponse(user);
        for (const AuthResponse& user : users) {
            if (user.email && user.displayEmail != user.email)
                CoreDataManager::shared().refreshDisplayEmails(*user.email);
        }
        app->userDetailsList =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
    }

    // Runs what the event loop has queued (focus requests, deferred actions) and what those queue.
    static void settle() {
        for (int i = 0; i < 6; ++i)
            QCoreApplication::sendPostedEvents();
    }

    void focus(std::optional<Field> field) {
        app->setFocusedField(field);
        settle();
    }

    // A key press where the keyboard is, as the user makes it; queued work is not run.
    void press(Qt::Key key) { QTest::keyClick(keyTarget(), key); }
    void type(const QString& text) {
        for (const QChar character : text)
            QTest::keyClick(keyTarget(), character.toLatin1());
    }

    QWidget* keyTarget() {
        QWidget* focused = QApplication::focusWidget();
        return focused ? focused : &host;
    }

    template <typename T = QWidget> T* child(Field field) const {
        return host.findChild<T*>(fieldName(field));
    }

    // Saves what the window shows to screenshots/<name>.png beside the test program.
    QString saveScreenshot(const QString& name) {
        settle();
        const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
        QDir().mkpath(folder);
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        return host.grab().save(path) ? path : QString();
    }

    QWidget host;
    QWidget* screen = nullptr;
};
