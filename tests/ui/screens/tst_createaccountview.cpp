#include "flows/FlowFixture.h"

#include "flows/CreateAccountViewModel.h"
#include "storage/AppLogger.h"
#include "support/ConsoleCapture.h"
#include "support/WidgetTestSupport.h"
#include "ui/controls/ConfirmationDialogView.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/screens/ConfirmUserOverrideView.h"
#include "ui/screens/CreateAccountView.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QVBoxLayout>

Q_DECLARE_METATYPE(CreateAccountView::Stage)
Q_DECLARE_METATYPE(Field)
Q_DECLARE_METATYPE(std::optional<Field>)

using namespace std::chrono_literals;

namespace {

const QString email = QStringLiteral("Alice@Example.com");
const QString code = QStringLiteral("482913");
const QString goodPin = QStringLiteral("135792");
const QString ruleMessage = QStringLiteral(
    "MUST have at least 3 unique numbers. Should NOT have 3 or more sequential numbers or consecutive "
    "identical numbers");
const QString mismatchMessage = QStringLiteral("PIN confirmation does not match");
const QJsonObject validated{{"errorCode", 0}, {"resultCode", 0}, {"orgCode", "ORG1"}};

} // namespace

class TestCreateAccountView : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    std::unique_ptr<FlowFixture> f;
    std::unique_ptr<QWidget> m_window;
    CreateAccountView* m_view = nullptr;

    CreateAccountViewModel& flow() { return m_view->viewModel(); }

    void showScreen() {
        m_window = std::make_unique<QWidget>();
        widgettest::useWindowLook(*m_window);
        m_window->resize(800, 400);
        auto* layout = new QVBoxLayout(m_window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        m_view = new CreateAccountView(
            *f->app, std::make_unique<CreateAccountViewModel>(f->repository.get(), *f->app, f->clock));
        layout->addWidget(m_view);
        QVERIFY(widgettest::showActive(*m_window));
    }

    void focus(std::optional<Field> field) { widgettest::publishFocus(*f->app, field); }

    // Types `text` key by key into whatever holds the keyboard, as a person would after focusing `field`.
    void typeInto(Field field, const QString& text) {
        // A click would put the keyboard back into a field that lost it while still the focused field.
        QWidget* control = m_view->findChild<QWidget*>(fieldName(field));
        QWidget* keyboard = QApplication::focusWidget();
        const bool typingThere =
            control && keyboard && (keyboard == control || control->isAncestorOf(keyboard));
        if (f->app->focusedFieldPublisher.get() != field || !typingThere) {
            focus(std::nullopt);
            focus(field);
        }
        for (const QChar character : text) {
            QWidget* target = QApplication::focusWidget();
            QVERIFY2(target, "nothing holds the keyboard");
            QTest::keyClick(target, character.toLatin1());
            widgettest::settle();
        }
    }

    void pressKey(Qt::Key key) {
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : m_window.get();
        QTest::keyClick(target, key);
    }

    QPushButton* submitButton() { return m_view->findChild<QPushButton*>(QStringLiteral("regSubmitButton")); }

    ErrorMessageView* statusLine() {
        return m_view->findChild<ErrorMessageView*>(QStringLiteral("statusLine"));
    }

    int validations() const { return f->bodies("user/registration/validate").size(); }
    int registrations() const { return f->bodies("desktop/user/register").size(); }

    // The first stage filled in by hand; the consent as given.
    void fillFirstStage(const QString& address, const QString& activation, bool consent) {
        typeInto(Field::regOrgEmail, address);
        flow().isChecked = consent;
        typeInto(Field::regActivationCode, activation);
    }

    void reachPinStage() {
        f->reply("user/registration/validate", validated);
        fillFirstStage(email, code, true);
        QTRY_COMPARE(m_view->stage(), CreateAccountView::Stage::pin);
        QTRY_COMPARE(f->app->focusedFieldPublisher.get(), std::optional(Field::createPin));
    }

    // Alice is enrolled here already with the organisation the service names.
    void storeAlice() {
        AuthResponse user;
        user.suid = "S-0";
        user.zid = "Z-0";
        user.email = "alice@example.com";
        user.displayEmail = "alice@example.com";
        user.orgCode = "ORG1";
        user.primaryAttr = "P-0";
        user.pin = KeyChain::sha256Hex("975310");
        CoreDataManager::shared().saveAuthResponse(user);
        QVERIFY(KeyChain::getOrCreateKeyPair("P-0||" + *user.pin));
        f->app->userDetailsList =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
    }

    QString screenshot(const QString& name) { return widgettest::saveScreenshot(*m_window, name); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        FlowFixture::setUpProcess(m_dir, m_keys);
        AppLogger::shared().setLogFilePath(m_dir.filePath("quorvaleapp.log"));
    }

    void init() {
        f = std::make_unique<FlowFixture>();
        f->app->currentTab = TabType::newRegisteration;
        showScreen();
    }

    void cleanup() {
        // Let a registration still out finish against this fixture.
        QTRY_VERIFY(!f->app->isLoading.get());
        m_window.reset();
        m_view = nullptr;
        f.reset();
    }

    void consentOffKeepsNextInert() {
        f->reply("user/registration/validate", validated);
        fillFirstStage(email, code, false);
        QVERIFY(!m_view->validate());
        QCOMPARE(submitButton()->cursor().shape(), Qt::ArrowCursor);
        QTest::mouseClick(submitButton(), Qt::LeftButton);
        focus(Field::regSubmitButton);
        pressKey(Qt::Key_Return);
        QTest::qWait(50);
        QCOMPARE(validations(), 0);
        QVERIFY(!f->app->isLoading.get());
        QCOMPARE(statusLine()->errorMessage(), QString());
        QCOMPARE(m_view->stage(), CreateAccountView::Stage::enrolment);

        // Ticking the box is all that was missing.
        flow().isChecked = true;
        QVERIFY(m_view->validate());
        QCOMPARE(submitButton()->cursor().shape(), Qt::PointingHandCursor);
    }

    void emailIsCheckedAsAWhole_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("upper case") << "ALICE.B@EXAMPLE.COM" << true;
        QTest::newRow("a dot before the @") << "alice.b@example.com" << true;
        QTest::newRow("two-letter top-level domain") << "alice@example.io" << true;
        QTest::newRow("64-letter top-level domain") << "alice@example." + QString(64, 'a') << true;
        QTest::newRow("65-letter top-level domain") << "alice@example." + QString(65, 'a') << false;
        QTest::newRow("one-letter top-level domain") << "alice@example.c" << false;
        QTest::newRow("a space") << "alice b@example.com" << false;
        QTest::newRow("a second @") << "alice@b@example.com" << false;
        QTest::newRow("no top-level domain") << "alice@example" << false;
        QTest::newRow("nothing before the @") << "@example.com" << false;
    }

    void emailIsCheckedAsAWhole() {
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        flow().isChecked = true;
        flow().activationCode = code;
        typeInto(Field::regOrgEmail, address);
        QCOMPARE(flow().email.get(), address);
        QCOMPARE(m_view->validate(), accepted);
        QCOMPARE(submitButton()->cursor().shape(), accepted ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }

    void activationCodeNeedsSixCharacters_data() {
        QTest::addColumn<QString>("activation");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("five") << "48291" << false;
        QTest::newRow("six") << "482913" << true;
        QTest::newRow("seven") << "4829135" << false;
    }

    void activationCodeNeedsSixCharacters() {
        QFETCH(QString, activation);
        QFETCH(bool, accepted);
        flow().isChecked = true;
        typeInto(Field::regOrgEmail, email);
        flow().activationCode = activation;
        QCOMPARE(m_view->validate(), accepted);
        // Only a typed sixth character submits.
        QTest::qWait(20);
        QCOMPARE(validations(), 0);
    }

    void sixthCharacterSubmitsOnce_data() {
        QTest::addColumn<bool>("pasted");
        QTest::newRow("typed") << false;
        QTest::newRow("pasted into the first box") << true;
    }

    void sixthCharacterSubmitsOnce() {
        QFETCH(bool, pasted);
        f->reply("user/registration/validate", validated);
        typeInto(Field::regOrgEmail, email);
        flow().isChecked = true;
        if (pasted) {
            focus(Field::regActivationCode);
            QApplication::clipboard()->setText(code);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::ControlModifier);
        } else {
            typeInto(Field::regActivationCode, code.left(5));
            QTest::qWait(20);
            QVERIFY(!f->app->isLoading.get());
            typeInto(Field::regActivationCode, code.right(1));
        }
        QTRY_COMPARE(m_view->stage(), CreateAccountView::Stage::pin);
        QTest::qWait(50);
        QCOMPARE(validations(), 1);
        const QJsonObject body = f->bodies("user/registration/validate").first();
        QCOMPARE(body.value("activationCode").toString(), code);
        QCOMPARE(body.value("orgEmail").toString(), email.toLower());
    }

    void returnActsOnlyOnTheButton_data() {
        QTest::addColumn<std::optional<Field>>("focused");
        QTest::addColumn<int>("sent");

        QTest::newRow("button") << std::optional(Field::regSubmitButton) << 1;
        QTest::newRow("e-mail field") << std::optional(Field::regOrgEmail) << 0;
        QTest::newRow("consent") << std::optional(Field::agreeTerms) << 0;
        QTest::newRow("tab bar") << std::optional(Field::regTab) << 0;
        QTest::newRow("nothing") << std::optional<Field>() << 0;
    }

    void returnActsOnlyOnTheButton() {
        QFETCH(std::optional<Field>, focused);
        QFETCH(int, sent);
        f->reply("user/registration/validate", validated);
        fillFirstStage(email, code, false);
        flow().isChecked = true;
        focus(focused);
        pressKey(Qt::Key_Return);
        if (sent)
            QTRY_COMPARE(m_view->stage(), CreateAccountView::Stage::pin);
        QTest::qWait(20);
        QCOMPARE(validations(), sent);
        // The consent row acts on its own Return; the screen does not submit for it.
        if (focused == Field::agreeTerms)
            QVERIFY(!flow().isChecked.get());
    }

    // A second Return while the first request is out would enrol twice.
    void busyWindowIgnoresReturnClicksAndTheSixthCharacter_data() {
        QTest::addColumn<QString>("action");
        QTest::newRow("Return on the button") << "return";
        QTest::newRow("click on the button") << "click";
        QTest::newRow("sixth character") << "sixth";
    }

    void busyWindowIgnoresReturnClicksAndTheSixthCharacter() {
        QFETCH(QString, action);
        f->reply("user/registration/validate", validated);
        typeInto(Field::regOrgEmail, email);
        typeInto(Field::regActivationCode, action == "sixth" ? code.left(5) : code);
        flow().isChecked = true;
        const auto act = [&] {
            if (action == "return") {
                focus(Field::regSubmitButton);
                pressKey(Qt::Key_Return);
            } else if (action == "click") {
                QTest::mouseClick(submitButton(), Qt::LeftButton);
            } else {
                typeInto(Field::regActivationCode, code.right(1));
            }
        };
        f->app->isLoading = true;
        act();
        QTest::qWait(50);
        QCOMPARE(validations(), 0);

        // The same action once the window is free again goes through.
        f->app->isLoading = false;
        if (action == "sixth") {
            flow().activationCode = QString();
            typeInto(Field::regActivationCode, code);
        } else {
            act();
        }
        QTRY_COMPARE(m_view->stage(), CreateAccountView::Stage::pin);
        QCOMPARE(validations(), 1);
    }

    void twoQuickReturnsSendOneValidation() {
        f->reply("user/registration/validate", validated);
        fillFirstStage(email, code, false);
        flow().isChecked = true;
        focus(Field::regSubmitButton);
        pressKey(Qt::Key_Return);
        pressKey(Qt::Key_Return);
        widgettest::settle();
        pressKey(Qt::Key_Return);
        QTRY_COMPARE(m_view->stage(), CreateAccountView::Stage::pin);
        QTest::qWait(50);
        QCOMPARE(validations(), 1);
    }

    void pinStageMessages_data() {
        QTest::addColumn<QString>("newPin");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("valid");

        QTest::newRow("one digit clears") << "1"
                                          << ""
                                          << "" << false;
        QTest::newRow("two digits clear") << "13"
                                          << ""
                                          << "" << false;
        QTest::newRow("third digit in a run") << "123"
                                              << "" << ruleMessage << false;
        QTest::newRow("third identical digit") << "775"
                                               << ""
                                               << "" << false;
        QTest::newRow("three identical digits") << "777"
                                                << "" << ruleMessage << false;
        QTest::newRow("two values only") << "131313"
                                         << "" << ruleMessage << false;
        QTest::newRow("valid PIN, no confirmation") << goodPin << ""
                                                    << "" << false;
        QTest::newRow("confirmation of five") << goodPin << "13579"
                                              << "" << false;
        QTest::newRow("sixth confirmation digit differs") << goodPin << "135790" << mismatchMessage << false;
    }

    void pinStageMessages() {
        QFETCH(QString, newPin);
        QFETCH(QString, confirmation);
        QFETCH(QString, message);
        QFETCH(bool, valid);
        reachPinStage();
        flow().errorMessage = QStringLiteral("left over");
        typeInto(Field::createPin, newPin);
        if (!confirmation.isEmpty())
            typeInto(Field::confirmPin, confirmation);
        QCOMPARE(m_view->newPin(), newPin);
        QCOMPARE(m_view->confirmPin(), confirmation);
        QCOMPARE(flow().errorMessage.get(), message);
        QCOMPARE(statusLine()->errorMessage(), message);
        QCOMPARE(m_view->validate(), valid);
        if (QTest::currentDataTag() == QByteArrayLiteral("third digit in a run"))
            QVERIFY(!screenshot("registration-pin-refused").isEmpty());
        QCOMPARE(registrations(), 0);
    }

    void equalPinsSubmitOnceAndLeaveTheMessage() {
        f->checks.enrolAs("S-7", "P-7", "ORG1");
        reachPinStage();
        typeInto(Field::createPin, goodPin);
        typeInto(Field::confirmPin, goodPin.left(5));
        flow().errorMessage = QStringLiteral("kept");
        typeInto(Field::confirmPin, goodPin.right(1));
        QCOMPARE(flow().errorMessage.get(), QStringLiteral("kept"));
        // Submit pressed as well, twice, around the automatic submission: still one registration.
        focus(Field::regSubmitButton);
        pressKey(Qt::Key_Return);
        pressKey(Qt::Key_Return);
        QTRY_VERIFY(flow().showSucces.get());
        QTRY_VERIFY(!f->app->isLoading.get());
        QTest::qWait(300);
        QCOMPARE(registrations(), 1);
        QVERIFY(flow().showSucces.get());
        QCOMPARE(statusLine()->errorMessage(),
                 "Registration complete. You can login by selecting alice@example.com from the login tab.");
        QCOMPARE(statusLine()->isSuccess(), std::optional(true));
        QVERIFY(!screenshot("registration-complete").isEmpty());
        f->clock.advance(2s);
        QCOMPARE(f->app->currentTab.get(), TabType::login);
        QCOMPARE(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(),
                 size_t(1));
    }

    // One activation makes one user: while the completion message shows, Submit sends nothing more however
    // often it is pressed, and its label no longer reads as ready.
    void afterTheCompletionSubmitSendsNothing_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("Return on Submit") << true;
        QTest::newRow("clicks on Submit") << false;
    }
    void afterTheCompletionSubmitSendsNothing() {
        QFETCH(bool, byReturn);
        f->checks.enrolAs("S-7", "P-7", "ORG1");
        reachPinStage();
        typeInto(Field::createPin, goodPin);
        typeInto(Field::confirmPin, goodPin);
        QTRY_VERIFY(flow().showSucces.get());
        QTRY_VERIFY(!f->app->isLoading.get());
        QCOMPARE(registrations(), 1);

        focus(Field::regSubmitButton);
        for (int press = 0; press < 3; ++press) {
            if (byReturn)
                pressKey(Qt::Key_Return);
            else
                QTest::mouseClick(submitButton(), Qt::LeftButton);
            widgettest::settle();
            // Each press gets the time a registration takes.
            QTRY_VERIFY(!f->app->isLoading.get());
        }
        QTest::qWait(100);
        QCOMPARE(registrations(), 1);
        QCOMPARE(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(),
                 size_t(1));
        QVERIFY(!m_view->validate());
        QVERIFY(flow().showSucces.get());
        QVERIFY(!screenshot("registration-complete-submit-resting").isEmpty());
        f->clock.advance(2s);
        QCOMPARE(f->app->currentTab.get(), TabType::login);
    }

    // Each edit is checked once, and the message is written only when the check wants another one: typing
    // a good PIN writes nothing, the mismatch writes once.
    void messageIsWrittenOnlyWhenItChanges() {
        reachPinStage();
        QStringList writes;
        const rx::AnyCancellable watch =
            flow().errorMessage.publisher().sink([&](const QString& message) { writes.append(message); });
        writes.clear();
        typeInto(Field::createPin, goodPin);
        typeInto(Field::confirmPin, QStringLiteral("13579"));
        QCOMPARE(writes, QStringList{});
        typeInto(Field::confirmPin, QStringLiteral("0"));
        QCOMPARE(writes, QStringList{mismatchMessage});
        QTest::qWait(50);
        QCOMPARE(writes, QStringList{mismatchMessage});
    }

    void deleteClearsTheMessageAndStillDeletes() {
        typeInto(Field::regOrgEmail, QStringLiteral("ab"));
        flow().errorMessage = QStringLiteral("Invalid activation code");
        pressKey(Qt::Key_Backspace);
        QCOMPARE(flow().errorMessage.get(), QString());
        QCOMPARE(flow().email.get(), QStringLiteral("a"));
    }

    // Backspace first leaves the empty box the keyboard moved on to, then empties the boxes before it; the
    // message follows the PIN that is left.
    void deleteKeepsTheRuleMessageOfARefusedPin() {
        reachPinStage();
        typeInto(Field::createPin, QStringLiteral("1114"));
        QCOMPARE(flow().errorMessage.get(), ruleMessage);
        const QList<QPair<QString, QString>> steps{
            {"1114", ruleMessage}, {"111", ruleMessage}, {"11", QString()}};
        for (const auto& [left, message] : steps) {
            pressKey(Qt::Key_Backspace);
            widgettest::settle();
            QCOMPARE(m_view->newPin(), left);
            QCOMPARE(flow().errorMessage.get(), message);
        }
    }

    void activationCodeChangeClearsAMessage_data() {
        QTest::addColumn<QString>("activation");
        QTest::addColumn<QString>("message");
        QTest::newRow("non-empty code") << "4"
                                        << "";
        QTest::newRow("empty code") << ""
                                    << "Invalid activation code";
    }

    void activationCodeChangeClearsAMessage() {
        QFETCH(QString, activation);
        QFETCH(QString, message);
        flow().activationCode = QStringLiteral("9");
        flow().errorMessage = QStringLiteral("Invalid activation code");
        flow().activationCode = activation;
        widgettest::settle();
        QCOMPARE(flow().errorMessage.get(), message);
    }

    // The code is a secret: the trace of the typing never shows it.
    void activationCodeTraceIsMasked() {
        ConsoleCapture console;
        typeInto(Field::regActivationCode, code);
        const QStringList lines = console.lines().filter("activationCode");
        QVERIFY(lines.contains(QStringLiteral("activationCode: ******")));
        for (const QString& line : console.lines())
            for (qsizetype length = 2; length <= code.size(); ++length)
                QVERIFY2(!line.contains(code.left(length)), qPrintable(line));
    }

    void emailRequestIsRedirected_data() {
        QTest::addColumn<bool>("enrolled");
        QTest::addColumn<Field>("expected");
        QTest::newRow("choosing the PIN") << false << Field::createPin;
        QTest::newRow("register-anew question") << true << Field::userDeletetionYes;
    }

    void emailRequestIsRedirected() {
        QFETCH(bool, enrolled);
        QFETCH(Field, expected);
        if (enrolled)
            storeAlice();
        f->reply("user/registration/validate", validated);
        fillFirstStage(email, code, true);
        QTRY_COMPARE(m_view->stage(),
                     enrolled ? CreateAccountView::Stage::registerAnew : CreateAccountView::Stage::pin);
        QTRY_COMPARE(f->app->focusedFieldPublisher.get(), std::optional(expected));
        focus(Field::unfocus);
        focus(Field::regOrgEmail);
        QCOMPARE(f->app->focusedFieldPublisher.get(), std::optional(expected));
    }

    void registerAnewQuestion_data() {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("byKeyboard");
        QTest::addColumn<CreateAccountView::Stage>("stage");
        QTest::addColumn<std::optional<Field>>("focusAfter");

        QTest::newRow("Return on Yes")
            << true << true << CreateAccountView::Stage::pin << std::optional(Field::createPin);
        QTest::newRow("click on Yes")
            << true << false << CreateAccountView::Stage::pin << std::optional(Field::createPin);
        QTest::newRow("Return on No")
            << false << true << CreateAccountView::Stage::enrolment << std::optional(Field::regOrgEmail);
        QTest::newRow("click on No") << false << false << CreateAccountView::Stage::enrolment
                                     << std::optional(Field::userDeletetionYes);
    }

    void registerAnewQuestion() {
        QFETCH(bool, yes);
        QFETCH(bool, byKeyboard);
        QFETCH(CreateAccountView::Stage, stage);
        QFETCH(std::optional<Field>, focusAfter);
        storeAlice();
        f->reply("user/registration/validate", validated);
        fillFirstStage(email, code, true);
        QTRY_COMPARE(m_view->stage(), CreateAccountView::Stage::registerAnew);
        QTRY_COMPARE(f->app->focusedFieldPublisher.get(), std::optional(Field::userDeletetionYes));
        auto* dialog = m_view->findChild<ConfirmUserOverrideView*>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!m_view->findChild<QPushButton*>(QStringLiteral("regSubmitButton")));
        if (yes && byKeyboard)
            QVERIFY(!screenshot("registration-register-anew").isEmpty());

        if (byKeyboard) {
            if (!yes)
                focus(Field::userDeletionNo);
            pressKey(Qt::Key_Return);
        } else {
            QTest::mouseClick(yes ? dialog->firstButton() : dialog->secondButton(), Qt::LeftButton);
        }
        QTRY_COMPARE(m_view->stage(), stage);
        widgettest::settle();
        QCOMPARE(f->app->focusedFieldPublisher.get(), focusAfter);
        QCOMPARE(CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).size(),
                 size_t(yes ? 0 : 1));
        QTRY_COMPARE(m_keys->count("P-0||" + KeyChain::sha256Hex("975310")), yes ? 0 : 1);
        QTRY_VERIFY(FlowFixture::removedKeysDeleted());
        if (!yes) {
            QCOMPARE(flow().email.get(), QString());
            QCOMPARE(flow().activationCode.get(), QString());
            QVERIFY(!flow().isChecked.get());
            QVERIFY(!m_view->validate());
        }
    }

    void screenshotsOfTheStages() {
        typeInto(Field::regOrgEmail, email);
        typeInto(Field::regActivationCode, code);
        flow().isChecked = true;
        focus(Field::regSubmitButton);
        QVERIFY(!screenshot("registration-stage-1").isEmpty());
        f->reply("user/registration/validate", validated);
        pressKey(Qt::Key_Return);
        QTRY_COMPARE(m_view->stage(), CreateAccountView::Stage::pin);
        typeInto(Field::createPin, goodPin);
        typeInto(Field::confirmPin, goodPin.left(4));
        QVERIFY(!screenshot("registration-stage-2").isEmpty());
    }

    // The screen's fixed texts are looked up as localisable literals, like the rest of the window's.
    void fixedTextsAreLocalisable_data() {
        QTest::addColumn<CreateAccountView::Stage>("stage");
        QTest::addColumn<QString>("text");
        using Stage = CreateAccountView::Stage;
        for (const char* text : {"New Registration", "Organization Email Address", "Next", "I agree to the",
                                 " Terms of Service ", "and the", " Privacy Policy "})
            QTest::addRow("first stage: %s", text) << Stage::enrolment << QString::fromLatin1(text);
        QTest::newRow("PIN stage: Submit") << Stage::pin << QStringLiteral("Submit");
        for (const char* text :
             {"This email ID is already registered.", "Would you like to register as a new user",
              "and erase all existing user data?", "Yes", "No"})
            QTest::addRow("register anew: %s", text) << Stage::registerAnew << QString::fromLatin1(text);
    }
    void fixedTextsAreLocalisable() {
        QFETCH(CreateAccountView::Stage, stage);
        QFETCH(QString, text);
        // Marks every text it is asked for, as a translation would replace it.
        class MarkingTranslator : public QTranslator {
        public:
            bool isEmpty() const override { return false; }
            QString translate(const char*, const char* source, const char*, int) const override {
                return QStringLiteral("<%1>").arg(QString::fromUtf8(source));
            }
        } translator;
        QVERIFY(QCoreApplication::installTranslator(&translator));
        auto model = std::make_unique<CreateAccountViewModel>(f->repository.get(), *f->app, f->clock);
        model->isUserValidated = stage == CreateAccountView::Stage::pin;
        model->showUserExistWarning = stage == CreateAccountView::Stage::registerAnew;
        CreateAccountView view(*f->app, std::move(model));
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(view.stage(), stage);
        QStringList shown;
        for (const QLabel* label : view.findChildren<QLabel*>())
            shown << label->text();
        for (const QAbstractButton* button : view.findChildren<QAbstractButton*>())
            shown << button->text();
        QVERIFY2(shown.contains(QStringLiteral("<%1>").arg(text)), qPrintable(shown.join(QLatin1Char('|'))));
    }
};

QTEST_MAIN(TestCreateAccountView)
#include "tst_createaccountview.moc"
