#include "ScreenFixture.h"

#include "flows/HomeViewModel.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/OTPFieldView.h"
#include "ui/controls/UnderlinedTextField.h"
#include "ui/screens/HomeScreenView.h"

#include <QPushButton>
#include <QRegularExpression>

namespace {

const QJsonObject success{{"errorCode", 0}, {"resultCode", 0}};
const QString verifyDid = QStringLiteral("verify/did");
const QString validationCode = QStringLiteral("verify/validationCode");
const QString confirmQid = QStringLiteral("confirm/qid");

QJsonObject with(QJsonObject object, const QJsonObject& more) {
    for (auto it = more.begin(); it != more.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

// The service's answer when the user belongs to several organisations.
QJsonObject threeOrganizations() {
    QJsonArray codes;
    for (const char* code : {"ORG1", "ORG2", "ORG3"})
        codes.append(QJsonObject{{"orgCode", code}, {"orgName", QStringLiteral("Organisation %1").arg(code)}});
    return QJsonObject{{"errorCode", 1}, {"resultCode", 75}, {"orgCodes", codes}};
}

} // namespace

class TestHomeScreen : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AuthResponse m_user;
    QString m_pem;
    std::unique_ptr<ScreenFixture> f;
    HomeScreenView* m_screen = nullptr;

    HomeScreenView& screen() { return *m_screen; }
    HomeViewModel& model() { return m_screen->viewModel(); }

    void showScreen() {
        m_screen = f->show(new HomeScreenView(
            *f->app, std::make_unique<HomeViewModel>(f->repository.get(), *f->app, f->clock)));
    }

    void typeCode(const QString& code) {
        f->focus(Field::authCode);
        f->type(code);
        f->settle();
    }

    void returnOn(Field field) {
        f->focus(field);
        f->press(Qt::Key_Return);
        f->settle();
    }

    void click(Field field) {
        QTest::mouseClick(f->child<QPushButton>(field), Qt::LeftButton);
        f->settle();
    }

    // Runs the event loop until the flow has no request out.
    void waitForReply() {
        QTRY_VERIFY(!f->app->isLoading.get());
        f->settle();
    }

    // The status line of the view on show.
    ErrorMessageView& status() const {
        for (ErrorMessageView* line : f->host.findChildren<ErrorMessageView*>()) {
            if (line->isVisible())
                return *line;
        }
        return *f->host.findChild<ErrorMessageView*>();
    }
    QString statusLine() const { return status().errorMessage(); }

    // Brings the organisation list up for a six-character code.
    void showOrganizations() {
        f->reply(verifyDid, threeOrganizations());
        typeCode(QStringLiteral("abc123"));
        click(Field::authenticate);
        waitForReply();
        QCOMPARE(model().orgCodes->size(), size_t(3));
        QCOMPARE(model().orgCode.get(), QStringLiteral("ORG1"));
    }

    // Brings the second-code view up.
    void showSecondCode(int ttl) {
        f->reply(verifyDid, with(success, {{"ttl", ttl}}));
        typeCode(QStringLiteral("abc123"));
        click(Field::authenticate);
        waitForReply();
        QVERIFY(model().show2Fa.get());
        f->settle();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        ScreenFixture::setUpProcess(m_dir, std::make_shared<MemoryKeyStore>());
        m_user = ScreenFixture::enrolledUser();
        m_pem = ScreenFixture::deviceKeyPem(m_user);
        QVERIFY(!m_pem.isEmpty());
    }

    void init() {
        f = std::make_unique<ScreenFixture>();
        f->signIn(m_user, m_pem);
    }

    void cleanup() {
        for (const auto& check : f->checks.checks())
            QVERIFY(check.verified);
        f.reset();
        m_screen = nullptr;
    }

    void aGreyAuthenticateIgnoresReturnAndClicks() {
        showScreen();
        QVERIFY(!screen().canAuthenticate());
        ScreenFixture::consoleLines().clear();
        returnOn(Field::authenticate);
        click(Field::authenticate);
        QTest::qWait(100);
        QVERIFY(f->service.received().isEmpty());
        // The trace line of Return still comes, for an empty code.
        QCOMPARE(ScreenFixture::consoleLines(), QStringList{QStringLiteral("\"\"")});
        QVERIFY(!f->saveScreenshot(QStringLiteral("home-screen-empty")).isEmpty());
    }

    void theCodeIsSentByClickOrReturn_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("click") << false;
        QTest::newRow("Return") << true;
    }
    void theCodeIsSentByClickOrReturn() {
        QFETCH(bool, byReturn);
        f->reply(verifyDid, with(success, {{"confirm", QJsonObject{{"message", "Confirm?"}}}}));
        f->reply(confirmQid, with(success, {{"message", "Signed in on the web"}}));
        showScreen();
        typeCode(QStringLiteral("abc123"));
        QVERIFY(screen().canAuthenticate());
        QVERIFY(!f->saveScreenshot(QStringLiteral("home-screen")).isEmpty());
        if (byReturn)
            returnOn(Field::authenticate);
        else
            click(Field::authenticate);
        QTRY_COMPARE(f->bodies(confirmQid).size(), 1);
        waitForReply();
        QCOMPARE(f->bodies(verifyDid).size(), 1);
        QCOMPARE(f->bodies(verifyDid).first().value("uniqueId").toString(), QStringLiteral("ABC123"));
        QCOMPARE(statusLine(), QStringLiteral("Signed in on the web"));
        QCOMPARE(status().isSuccess(), std::optional(true));
        QVERIFY(model().codeValue->isEmpty());
        QVERIFY(f->child<UnderlinedTextField>(Field::authCode)->text().isEmpty());
        QVERIFY(!f->saveScreenshot(QStringLiteral("home-success")).isEmpty());

        // The banner goes two seconds later and the window is minimised.
        f->clock.advance(std::chrono::seconds(2));
        f->settle();
        QVERIFY(statusLine().isEmpty());
        QCOMPARE(f->windows.calls, QStringList{QStringLiteral("miniaturize")});
    }

    void aSecondActionWhileARequestIsOutSendsNothing_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("Return twice") << true;
        QTest::newRow("click twice") << false;
    }
    void aSecondActionWhileARequestIsOutSendsNothing() {
        QFETCH(bool, byReturn);
        f->service.setReply(QStringLiteral("/api/v1/") + verifyDid, ScriptedReply::silence());
        showScreen();
        typeCode(QStringLiteral("abc123"));
        f->focus(Field::authenticate);
        const auto act = [&] {
            if (byReturn)
                f->press(Qt::Key_Return);
            else
                QTest::mouseClick(f->child<QPushButton>(Field::authenticate), Qt::LeftButton);
        };
        // Both presses come before the first one's action has run.
        act();
        act();
        f->settle();
        QTRY_COMPARE(f->bodies(verifyDid).size(), 1);
        QVERIFY(f->app->isLoading.get());
        act();
        f->settle();
        QTest::qWait(200);
        QCOMPARE(f->bodies(verifyDid).size(), 1);
    }

    void noCodeReachesStandardOutput() {
        f->service.setReply(QStringLiteral("/api/v1/") + verifyDid, ScriptedReply::silence());
        showScreen();
        typeCode(QStringLiteral("SECRET7"));
        ScreenFixture::consoleLines().clear();
        f->focus(Field::authenticate);
        // What the key press itself prints; the request goes later.
        f->press(Qt::Key_Return);
        QCOMPARE(ScreenFixture::consoleLines(), QStringList{QStringLiteral("\"*******\"")});
    }

    void theSecondCodeNeedsBothDigits_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("click") << false;
        QTest::newRow("Return") << true;
    }
    void theSecondCodeNeedsBothDigits() {
        QFETCH(bool, byReturn);
        showScreen();
        showSecondCode(60);
        QCOMPARE(f->app->focusedFieldPublisher.get(), Field::twoFactor);
        f->reply(validationCode, with(success, {{"message", "Approved"}}));
        f->type(QStringLiteral("4"));
        f->settle();
        QCOMPARE(model().otpValue.get(), QStringLiteral("4"));
        const auto submit = [&] {
            if (byReturn)
                returnOn(Field::authenticateValidation);
            else
                click(Field::authenticateValidation);
        };
        submit();
        QTest::qWait(100);
        QVERIFY(f->bodies(validationCode).isEmpty());

        f->focus(Field::twoFactor);
        f->type(QStringLiteral("2"));
        f->settle();
        QCOMPARE(model().otpValue.get(), QStringLiteral("42"));
        QVERIFY(!f->saveScreenshot(QStringLiteral("home-second-code")).isEmpty());
        ScreenFixture::consoleLines().clear();
        submit();
        QTRY_COMPARE(f->bodies(validationCode).size(), 1);
        waitForReply();
        QCOMPARE(f->bodies(validationCode).first().value("validationCode").toInt(), 42);
        QCOMPARE(statusLine(), QStringLiteral("Approved"));
        // The code as a word of its own; Base64 text around it (a key printed) does not count.
        const QRegularExpression code(QStringLiteral("(?<![A-Za-z0-9+/=])42(?![A-Za-z0-9+/=])"));
        for (const QString& line : ScreenFixture::consoleLines())
            QVERIFY2(!line.contains(code), qPrintable(line));
    }

    void theSecondCodeExpires() {
        showScreen();
        showSecondCode(30);
        f->clock.advance(std::chrono::seconds(30));
        f->settle();
        QCOMPARE(statusLine(), QStringLiteral("Validation code expired"));
        QVERIFY(!f->saveScreenshot(QStringLiteral("home-error")).isEmpty());
        f->clock.advance(std::chrono::seconds(2));
        f->settle();
        QVERIFY(!model().show2Fa.get());
        QVERIFY(statusLine().isEmpty());
        QVERIFY(f->child<UnderlinedTextField>(Field::authCode)->isVisible());
    }

    void theOrganisationListStopsAtBothEnds_data() {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("chosen");
        const int down = Qt::Key_Down;
        const int up = Qt::Key_Up;
        QTest::newRow("Up on the first keeps it") << QList{up} << "ORG1";
        QTest::newRow("Down moves one on") << QList{down} << "ORG2";
        QTest::newRow("Down on the last keeps it") << QList{down, down, down} << "ORG3";
        QTest::newRow("Up comes back") << QList{down, down, up} << "ORG2";
    }
    void theOrganisationListStopsAtBothEnds() {
        QFETCH(QList<int>, keys);
        QFETCH(QString, chosen);
        showScreen();
        showOrganizations();
        QVERIFY(f->child(Field::orgSelection)->isVisible());
        QVERIFY(!f->child(Field::authCode)->isVisible());
        QCOMPARE(f->host.findChildren<QPushButton*>(QStringLiteral("organization")).size(), 3);
        f->focus(Field::orgSelection);
        for (int key : keys)
            f->press(Qt::Key(key));
        QCOMPARE(model().orgCode.get(), chosen);

        // Authenticate sends the same code again with the organisation chosen.
        f->reply(verifyDid, QJsonObject{{"errorCode", 1}, {"resultCode", 4}, {"errorMessage", "Refused"}});
        returnOn(Field::authenticate);
        QTRY_COMPARE(f->bodies(verifyDid).size(), 2);
        QCOMPARE(f->bodies(verifyDid).last().value("org").toString(), chosen);
        QCOMPARE(f->bodies(verifyDid).last().value("uniqueId").toString(), QStringLiteral("ABC123"));
        waitForReply();
    }

    // While a request is out the busy overlay covers the screen, and no key changes what lies under it. The
    // same keys act once the request is done.
    void nothingChangesUnderTheBusyOverlay_data() {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QList<int>>("keys");
        QTest::newRow("Down in the organisation list") << "organisations" << QList<int>{Qt::Key_Down};
        QTest::newRow("Up in the organisation list") << "organisations" << QList<int>{Qt::Key_Up};
        QTest::newRow("typing into the code") << "code" << QList<int>{Qt::Key_7, Qt::Key_Q};
        QTest::newRow("Backspace in the code") << "code" << QList<int>{Qt::Key_Backspace};
        QTest::newRow("typing into the second code") << "second code" << QList<int>{Qt::Key_5};
    }
    void nothingChangesUnderTheBusyOverlay() {
        QFETCH(QString, view);
        QFETCH(QList<int>, keys);
        showScreen();
        if (view == "organisations") {
            showOrganizations();
            model().orgCode = QStringLiteral("ORG2");
            f->focus(Field::orgSelection);
        } else if (view == "code") {
            typeCode(QStringLiteral("abc"));
        } else {
            showSecondCode(60);
            f->type(QStringLiteral("4"));
            f->settle();
        }
        const auto shown = [&] {
            return QStringList{model().codeValue.get(), model().orgCode.get(), model().otpValue.get(),
                               f->child<UnderlinedTextField>(Field::authCode)->text()};
        };
        const QStringList before = shown();
        const auto pressKeys = [&] {
            for (int key : keys)
                f->press(Qt::Key(key));
            f->settle();
        };

        f->app->isLoading = true;
        pressKeys();
        QCOMPARE(shown(), before);
        f->app->isLoading = false;
        pressKeys();
        QVERIFY(shown() != before);
    }

    void aRowClickChoosesItsOrganisation() {
        showScreen();
        showOrganizations();
        QTest::mouseClick(f->host.findChildren<QPushButton*>(QStringLiteral("organization")).at(2), Qt::LeftButton);
        QCOMPARE(model().orgCode.get(), QStringLiteral("ORG3"));
        f->focus(Field::orgSelection);
        QVERIFY(!f->saveScreenshot(QStringLiteral("home-organisations")).isEmpty());
    }

    void backClearsTheChoice_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::addColumn<std::optional<Field>>("focusAfter");
        QTest::newRow("click") << false << std::optional(Field::homeBack);
        QTest::newRow("Return") << true << std::optional(Field::unfocus);
    }
    void backClearsTheChoice() {
        QFETCH(bool, byReturn);
        QFETCH(std::optional<Field>, focusAfter);
        showScreen();
        showOrganizations();
        f->focus(Field::homeBack);
        if (byReturn)
            returnOn(Field::homeBack);
        else
            click(Field::homeBack);
        QVERIFY(model().orgCodes->empty());
        QVERIFY(model().orgCode->isEmpty());
        QVERIFY(model().errorMessage->isEmpty());
        QVERIFY(f->child(Field::authCode)->isVisible());
        QVERIFY(!f->child(Field::orgSelection)->isVisible());
        QCOMPARE(f->app->focusedFieldPublisher.get(), focusAfter);
    }

    void aDeepLink_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("beforeShown");
        QTest::addColumn<QString>("sent");
        const QString none;
        QTest::newRow("with id, while shown") << "https://id.example/auth?id=ORG9:web42xyz" << false << "web42xyz";
        QTest::newRow("with id, before shown") << "https://id.example/auth?id=ORG9:web42xyz" << true << "web42xyz";
        QTest::newRow("id after another item") << "https://id.example/auth?ids=1&id=abc123" << false << "ABC123";
        QTest::newRow("without id") << "https://id.example/auth?code=abc123" << false << none;
        QTest::newRow("without id, before shown") << "https://id.example/auth?code=abc123" << true << none;
        QTest::newRow("id without a value") << "https://id.example/auth?id" << false << none;
        QTest::newRow("no query") << "https://id.example/auth" << false << none;
    }
    void aDeepLink() {
        QFETCH(QString, link);
        QFETCH(bool, beforeShown);
        QFETCH(QString, sent);
        f->reply(verifyDid, QJsonObject{{"errorCode", 1}, {"resultCode", 4}, {"errorMessage", "Refused"}});
        if (beforeShown)
            f->app->deepLink = QUrl(link);
        showScreen();
        if (!beforeShown)
            f->app->deepLink = QUrl(link);
        f->settle();
        if (sent.isEmpty()) {
            QTest::qWait(100);
            QVERIFY(f->bodies(verifyDid).isEmpty());
            QCOMPARE(f->app->deepLink.get(), std::optional(QUrl(link)));
            return;
        }
        QTRY_COMPARE(f->bodies(verifyDid).size(), 1);
        QCOMPARE(f->bodies(verifyDid).first().value("uniqueId").toString(), sent);
        QVERIFY(!f->app->deepLink.get());
        waitForReply();
        QCOMPARE(statusLine(), QStringLiteral("Refused"));
        QCOMPARE(f->bodies(verifyDid).size(), 1);
    }

    void aLinkThatComesWhileARequestIsOutIsSentAfterIt() {
        f->reply(verifyDid, QJsonObject{{"errorCode", 1}, {"resultCode", 4}, {"errorMessage", "Refused"}});
        showScreen();
        f->app->isLoading = true;
        f->app->deepLink = QUrl(QStringLiteral("https://id.example/auth?id=abc123"));
        f->settle();
        QTest::qWait(100);
        QVERIFY(f->bodies(verifyDid).isEmpty());
        QVERIFY(f->app->deepLink.get());
        f->app->isLoading = false;
        QTRY_COMPARE(f->bodies(verifyDid).size(), 1);
        QVERIFY(!f->app->deepLink.get());
        waitForReply();
    }

    void typingClearsTheLastMessage() {
        f->reply(verifyDid, QJsonObject{{"errorCode", 1}, {"resultCode", 4}, {"errorMessage", "Refused"}});
        showScreen();
        typeCode(QStringLiteral("abc123"));
        click(Field::authenticate);
        waitForReply();
        QCOMPARE(statusLine(), QStringLiteral("Refused"));
        f->focus(Field::authCode);
        f->press(Qt::Key_Backspace);
        f->settle();
        QVERIFY(statusLine().isEmpty());
    }

    void tabMovesThroughTheHomeScreen_data() {
        QTest::addColumn<bool>("organizations");
        QTest::addColumn<Field>("from");
        QTest::addColumn<std::optional<Field>>("to");
        QTest::newRow("code field to Authenticate") << false << Field::authCode << std::optional(Field::authenticate);
        QTest::newRow("Back to the tab bar") << true << Field::homeBack << std::optional(Field::removeUserTab);
    }
    void tabMovesThroughTheHomeScreen() {
        QFETCH(bool, organizations);
        QFETCH(Field, from);
        QFETCH(std::optional<Field>, to);
        showScreen();
        if (organizations)
            showOrganizations();
        f->focus(from);
        f->press(Qt::Key_Tab);
        f->settle();
        QCOMPARE(f->app->focusedFieldPublisher.get(), to);
    }

    // The tab bar's step past Authenticate lands on Back while the list shows, else on the tab bar.
    void theStepPastAuthenticateGoesOn_data() {
        QTest::addColumn<bool>("organizations");
        QTest::addColumn<std::optional<Field>>("to");
        QTest::newRow("to Back") << true << std::optional(Field::homeBack);
        QTest::newRow("to the tab bar") << false << std::optional(Field::removeUserTab);
    }
    void theStepPastAuthenticateGoesOn() {
        QFETCH(bool, organizations);
        QFETCH(std::optional<Field>, to);
        showScreen();
        if (organizations)
            showOrganizations();
        f->focus(Field::handleAuth);
        f->settle();
        QCOMPARE(f->app->focusedFieldPublisher.get(), to);
    }
};

QTEST_MAIN(TestHomeScreen)
#include "tst_homescreen.moc"
