#include "ScreenFixture.h"

#include "flows/HomeViewModel.h"
#include "ui/controls/CustomTextField.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/OTPFieldView.h"
#include "ui/screens/DropDownButtonView.h"
#include "ui/screens/LoginViewView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>

using namespace std::chrono_literals;

namespace {

const QString chooseUserMessage = QStringLiteral("Please choose a user and enter PIN");
const QString permanentlyLocked =
    QStringLiteral("Your account is permanently locked. Please contact helpdesk");
// Wrong for every user below.
const QString wrongPin = QStringLiteral("864209");

AuthResponse user(const QString& zid, const QString& email, std::optional<QString> displayEmail,
                  const QString& pin) {
    AuthResponse record;
    record.suid = QStringLiteral("S-") + zid;
    record.zid = zid;
    record.email = email;
    record.displayEmail = std::move(displayEmail);
    record.orgCode = QStringLiteral("ORG-") + zid;
    record.primaryAttr = QStringLiteral("P-") + zid;
    record.pin = KeyChain::sha256Hex(pin);
    return record;
}

// Three users of three addresses.
std::vector<AuthResponse> threeUsers() {
    return {user("Z1", "ann@example.com", "ann@example.com", "135792"),
            user("Z2", "bob@example.com", "bob@example.com", "246813"),
            user("Z3", "cat@example.com", "cat@example.com", "975310")};
}

// One address enrolled with two organisations, told apart on screen by the organisation.
std::vector<AuthResponse> oneAddressTwice() {
    return {user("Z1", "sam@example.com", "sam@example.com", "135792"),
            user("Z2", "sam@example.com", "sam@example.com (ORG-Z2)", "246813")};
}

// The same, shown alike: both are shown by the bare address, as the store first keeps them.
std::vector<AuthResponse> oneAddressTwiceShownAlike() {
    return {user("Z1", "sam@example.com", "sam@example.com", "135792"),
            user("Z2", "sam@example.com", "sam@example.com", "246813")};
}

std::vector<AuthResponse> usersOf(const QString& set) {
    if (set == QStringLiteral("three"))
        return threeUsers();
    if (set == QStringLiteral("one address"))
        return oneAddressTwice();
    return oneAddressTwiceShownAlike();
}

} // namespace

class TestLoginView : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryKeyStore> m_keys = std::make_shared<MemoryKeyStore>();
    std::unique_ptr<ScreenFixture> f;
    LoginViewView* m_screen = nullptr;

    LoginViewView& screen() { return *m_screen; }

    void showScreen() {
        m_screen = f->show(new LoginViewView(
            *f->app, std::make_unique<HomeViewModel>(f->repository.get(), *f->app, f->clock)));
    }

    std::optional<QString> chosenZid() const {
        return m_screen->selectedOption() ? m_screen->selectedOption()->zid : std::nullopt;
    }

    void typePin(const QString& pin) {
        f->focus(Field::loginPassword);
        f->type(pin);
        f->settle();
    }

    bool unlocked() const { return f->app->currentTab.get() == TabType::homeScreen; }

    static QStringList storedZids() {
        QStringList zids;
        for (const AuthResponse& stored :
             CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}))
            zids.append(stored.zid.value_or(QString()));
        return zids;
    }

    static QString keyTag(const AuthResponse& record) { return *record.primaryAttr + "||" + *record.pin; }

    QString statusLine() const { return f->host.findChild<ErrorMessageView*>()->errorMessage(); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        ScreenFixture::setUpProcess(m_dir, m_keys);
    }

    void init() { f = std::make_unique<ScreenFixture>(); }

    void cleanup() {
        f.reset();
        m_screen = nullptr;
    }

    void aLoneUserIsChosenAndTheSixthDigitUnlocks_data() {
        QTest::addColumn<bool>("pasted");
        QTest::newRow("typed") << false;
        QTest::newRow("pasted") << true;
    }
    void aLoneUserIsChosenAndTheSixthDigitUnlocks() {
        QFETCH(bool, pasted);
        const AuthResponse only = user("Z1", "ann@example.com", "ann@example.com", "135792");
        f->storeUsers({only});
        showScreen();
        auto* chooser = f->host.findChild<DropDownButtonView*>();
        QCOMPARE(chosenZid(), only.zid);
        QVERIFY(!chooser->showsMenu());
        QCOMPARE(chooser->shownText(), QStringLiteral("ann@example.com"));

        if (pasted) {
            QGuiApplication::clipboard()->setText(QStringLiteral("135792"));
            f->focus(Field::loginPassword);
            QTest::keyClick(f->keyTarget(), Qt::Key_V, Qt::ControlModifier);
        } else {
            typePin(QStringLiteral("13579"));
            QVERIFY(!unlocked());
            f->type(QStringLiteral("2"));
        }
        f->settle();
        QVERIFY(unlocked());
        QCOMPARE(f->app->tabs.get(), loggedInTabs);
        QCOMPARE(f->app->authDetails.get()->zid, only.zid);
        QVERIFY(f->app->isSignedIn());
    }

    void downAndUpMoveByPlaceInTheList_data() {
        QTest::addColumn<QString>("users");
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("chosen");
        const int down = Qt::Key_Down;
        const int up = Qt::Key_Up;
        QTest::newRow("Down with nothing chosen takes the first") << "three" << QList{down} << 0;
        QTest::newRow("Down twice more reaches the third") << "three" << QList{down, down, down} << 2;
        QTest::newRow("Down on the last keeps it") << "three" << QList{down, down, down, down} << 2;
        QTest::newRow("Up on the first keeps it") << "three" << QList{down, up} << 0;
        QTest::newRow("Up from the third") << "three" << QList{down, down, down, up} << 1;
        QTest::newRow("Up with nothing chosen changes nothing") << "three" << QList{up} << -1;
        QTest::newRow("one address: Down passes the first") << "one address" << QList{down, down} << 1;
        QTest::newRow("one address: Up comes back") << "one address" << QList{down, down, up} << 0;
        QTest::newRow("one address shown alike: Down passes the first") << "shown alike" << QList{down, down} << 1;
        QTest::newRow("one address shown alike: Down stops at the last")
            << "shown alike" << QList{down, down, down} << 1;
    }
    void downAndUpMoveByPlaceInTheList() {
        QFETCH(QString, users);
        QFETCH(QList<int>, keys);
        QFETCH(int, chosen);
        const std::vector<AuthResponse> list = usersOf(users);
        f->storeUsers(list);
        showScreen();
        f->focus(Field::loginUsers);
        for (int key : keys)
            f->press(Qt::Key(key));
        f->settle();
        QCOMPARE(chosenZid(), chosen < 0 ? std::nullopt : list[size_t(chosen)].zid);
        auto* chooser = f->host.findChild<DropDownButtonView*>();
        QCOMPARE(chooser->shownText(), DropDownButtonView::userKey(screen().selectedOption()));
    }

    void theMenuChoosesByPlace() {
        const std::vector<AuthResponse> list = oneAddressTwiceShownAlike();
        f->storeUsers(list);
        showScreen();
        auto* chooser = f->host.findChild<DropDownButtonView*>();
        QVERIFY(chooser->showsMenu());
        QCOMPARE(chooser->menu()->actions().size(), 2);
        chooser->menu()->actions().at(1)->trigger();
        QCOMPARE(chosenZid(), list[1].zid);
    }

    // The entries are yellow capsules, a little see-through; only the one under a pressed button turns grey.
    void aMenuEntryTurnsGreyWhilePressed_data() {
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<QColor>("expected");
        QColor seeThrough(Qt::yellow);
        seeThrough.setAlphaF(0.75);
        const QColor under = namedColor(QStringLiteral("mainBg"));
        const auto over = [&](int top, int bottom) { return qRound(top * 0.75 + bottom * 0.25); };
        QTest::newRow("under the pointer")
            << false << QColor(over(255, under.red()), over(255, under.green()), over(0, under.blue()));
        QTest::newRow("pressed") << true << QColor(Qt::gray);
    }
    void aMenuEntryTurnsGreyWhilePressed() {
        QFETCH(bool, pressed);
        QFETCH(QColor, expected);
        f->storeUsers(threeUsers());
        showScreen();
        QMenu* menu = f->host.findChild<DropDownButtonView*>()->menu();
        menu->popup(f->host.mapToGlobal(QPoint(40, 40)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        const QRect entry = menu->actionGeometry(menu->actions().at(1));
        QTest::mouseMove(menu, entry.center());
        if (pressed)
            QTest::mousePress(menu, Qt::LeftButton, {}, entry.center());
        // Inside the capsule, before the text.
        const QImage shown = menu->grab().toImage();
        shown.save(QCoreApplication::applicationDirPath() +
                   QStringLiteral("/screenshots/user-menu-%1.png").arg(pressed ? "pressed" : "hovered"));
        const QColor seen =
            shown.pixelColor((entry.topLeft() + QPoint(8, entry.height() / 2)) * shown.devicePixelRatio());
        if (pressed)
            QTest::mouseRelease(menu, Qt::LeftButton, {}, entry.center());
        menu->hide();
        QVERIFY2(qAbs(seen.red() - expected.red()) <= 2 && qAbs(seen.green() - expected.green()) <= 2 &&
                     qAbs(seen.blue() - expected.blue()) <= 2,
                 qPrintable(seen.name()));
    }

    void returnUnlocksOnlyFromTheUnlockButton_data() {
        QTest::addColumn<Field>("focus");
        QTest::addColumn<bool>("unlocks");
        QTest::newRow("PIN field") << Field::loginPassword << false;
        QTest::newRow("user chooser") << Field::loginUsers << false;
        QTest::newRow("Unlock App") << Field::unlockApp << true;
    }
    void returnUnlocksOnlyFromTheUnlockButton() {
        QFETCH(Field, focus);
        QFETCH(bool, unlocks);
        f->storeUsers(threeUsers());
        showScreen();
        f->focus(Field::loginUsers);
        f->press(Qt::Key_Down);
        QCOMPARE(chosenZid(), QStringLiteral("Z1"));
        // Six digits typed under the busy overlay unlock nothing and stay.
        f->app->isLoading = true;
        typePin(QStringLiteral("135792"));
        f->app->isLoading = false;
        QVERIFY(!unlocked());
        QVERIFY(screen().isUnlockReady());

        f->focus(focus);
        f->press(Qt::Key_Return);
        f->settle();
        QCOMPARE(unlocked(), unlocks);
    }

    void sixDigitsWithoutAUserAskForOne() {
        f->storeUsers(threeUsers());
        showScreen();
        typePin(QStringLiteral("135792"));
        QCOMPARE(screen().viewModel().errorMessage.get(), chooseUserMessage);
        QCOMPARE(f->host.findChild<ErrorMessageView*>()->errorMessage(), chooseUserMessage);
        QVERIFY(!f->app->authDetails.get());
        QVERIFY(!unlocked());
    }

    void theSecondOfOneAddressIsCheckedWithItsOwnPin_data() {
        QTest::addColumn<QString>("users");
        QTest::newRow("told apart on screen") << "one address";
        QTest::newRow("shown alike") << "shown alike";
    }
    void theSecondOfOneAddressIsCheckedWithItsOwnPin() {
        QFETCH(QString, users);
        const std::vector<AuthResponse> list = usersOf(users);
        f->storeUsers(list);
        // The first user was the current one before, as after a logout.
        f->app->authDetails = list[0];
        showScreen();
        f->focus(Field::loginUsers);
        f->press(Qt::Key_Down);
        f->press(Qt::Key_Down);
        typePin(QStringLiteral("246813"));
        QVERIFY2(unlocked(), qPrintable(screen().viewModel().errorMessage.get()));
        QCOMPARE(f->app->authDetails.get()->zid, list[1].zid);
    }

    void nothingUnlocksWhileBusy_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("click") << false;
        QTest::newRow("Return on Unlock App") << true;
    }
    void nothingUnlocksWhileBusy() {
        QFETCH(bool, byReturn);
        f->storeUsers({user("Z1", "ann@example.com", "ann@example.com", "135792")});
        showScreen();
        typePin(QStringLiteral("13579"));
        f->app->isLoading = true;
        f->type(QStringLiteral("2"));
        f->settle();
        QVERIFY2(!unlocked(), "the sixth digit unlocked under the busy overlay");
        QCOMPARE(screen().pinValue(), QStringLiteral("135792"));

        auto* button = f->child<QPushButton>(Field::unlockApp);
        const auto act = [&] {
            if (byReturn) {
                f->focus(Field::unlockApp);
                f->press(Qt::Key_Return);
            } else {
                QTest::mouseClick(button, Qt::LeftButton);
            }
            f->settle();
        };
        act();
        QVERIFY(!unlocked());
        f->app->isLoading = false;
        act();
        QVERIFY(unlocked());
    }

    void aReloadEmptiesThePinAndChoosesTheLoneUser() {
        const std::vector<AuthResponse> list = threeUsers();
        f->storeUsers({list[0], list[1]});
        showScreen();
        f->focus(Field::loginUsers);
        f->press(Qt::Key_Down);
        f->press(Qt::Key_Down);
        typePin(QStringLiteral("246"));
        QCOMPARE(screen().pinValue(), QStringLiteral("246"));

        CoreDataManager::shared().deleteAllUsers();
        f->storeUsers({list[0]});
        f->app->isRemoveUser = true;
        f->settle();
        QVERIFY(screen().pinValue().isEmpty());
        QCOMPARE(chosenZid(), list[0].zid);
        QVERIFY(!f->app->isRemoveUser.get());
    }

    void deleteInThePinClearsTheStatusLine() {
        f->storeUsers(threeUsers());
        showScreen();
        typePin(QStringLiteral("135792"));
        QCOMPARE(screen().viewModel().errorMessage.get(), chooseUserMessage);
        f->type(QStringLiteral("13"));
        // The first Backspace steps back from the empty third box, the second empties the second.
        f->press(Qt::Key_Backspace);
        f->settle();
        QVERIFY(screen().viewModel().errorMessage->isEmpty());
        f->press(Qt::Key_Backspace);
        f->settle();
        QCOMPARE(screen().pinValue(), QStringLiteral("1"));
    }

    // The first user is locked out for good and removed. Nothing answers the users check here, as when the
    // device is offline, so only the removal itself can make the screen let go of that user: it chooses
    // again from the users left, and neither the old PIN nor another wrong one stores the record again.
    void aUserLockedOutForGoodStaysGone_data() {
        QTest::addColumn<bool>("another");
        QTest::addColumn<QString>("typedAfter");
        QTest::newRow("two users, its old PIN") << true << "135792";
        QTest::newRow("two users, a wrong PIN") << true << wrongPin;
        QTest::newRow("the only user, its old PIN") << false << "135792";
    }
    void aUserLockedOutForGoodStaysGone() {
        QFETCH(bool, another);
        QFETCH(QString, typedAfter);
        const AuthResponse lockedOut = user("Z1", "ann@example.com", "ann@example.com", "135792");
        const AuthResponse other = user("Z2", "bob@example.com", "bob@example.com", "246813");
        f->storeUsers(another ? std::vector{lockedOut, other} : std::vector{lockedOut});
        QVERIFY(!ScreenFixture::deviceKeyPem(lockedOut).isEmpty());
        QVERIFY(!ScreenFixture::deviceKeyPem(other).isEmpty());
        showScreen();
        if (another) {
            f->focus(Field::loginUsers);
            f->press(Qt::Key_Down);
        }
        QCOMPARE(chosenZid(), lockedOut.zid);

        // Uncounted, three before the lock, the lock; then past it, five more and the last.
        for (int attempt = 0; attempt < 5; ++attempt)
            typePin(wrongPin);
        f->clock.advance(31min);
        for (int attempt = 0; attempt < 6; ++attempt)
            typePin(wrongPin);
        QCOMPARE(statusLine(), permanentlyLocked);
        QVERIFY(!f->saveScreenshot(QStringLiteral("unlock-locked-out-for-good")).isEmpty());
        QCOMPARE(storedZids(), another ? QStringList{"Z2"} : QStringList{});
        QCOMPARE(m_keys->count(keyTag(lockedOut)), 0);
        QVERIFY(!f->app->authDetails.get());
        QCOMPARE(chosenZid(), another ? other.zid : std::nullopt);

        typePin(typedAfter);
        QVERIFY(!unlocked());
        QCOMPARE(storedZids(), another ? QStringList{"Z2"} : QStringList{});
        QVERIFY(!f->app->authDetails.get() || f->app->authDetails.get()->zid == other.zid);
        QCOMPARE(m_keys->count(keyTag(lockedOut)), 0);
        QCOMPARE(m_keys->count(keyTag(other)), 1);
    }

    // The store can lose the chosen user before the screen hears of it (the users check deletes first and
    // reloads later); a PIN typed in between must not store that user again, right or wrong.
    void aUserDeletedMeanwhileIsNotStoredAgain_data() {
        QTest::addColumn<QString>("pin");
        QTest::newRow("its PIN") << "135792";
        QTest::newRow("a wrong PIN") << wrongPin;
    }
    void aUserDeletedMeanwhileIsNotStoredAgain() {
        QFETCH(QString, pin);
        const std::vector<AuthResponse> list = threeUsers();
        f->storeUsers({list[0], list[1]});
        showScreen();
        f->focus(Field::loginUsers);
        f->press(Qt::Key_Down);
        QCOMPARE(chosenZid(), list[0].zid);
        CoreDataManager::shared().deleteAuthResponse(*list[0].zid);

        typePin(pin);
        QVERIFY(!unlocked());
        QCOMPARE(storedZids(), QStringList{"Z2"});
        QVERIFY(!f->app->authDetails.get());
        QCOMPARE(statusLine(), chooseUserMessage);
    }

    // The chosen user is deleted and the list reloaded to the one user left, but the screen's queued reset
    // has not run when the sixth digit comes: the PIN was typed for the deleted user, and counts for nobody.
    void aPinForAUserDeletedMeanwhileIsNotTriedOnAnother() {
        const std::vector<AuthResponse> list = threeUsers();
        AuthResponse bob = list[1];
        bob.invalidAttemptCount = 1;
        f->storeUsers({list[0], bob});
        showScreen();
        f->focus(Field::loginUsers);
        f->press(Qt::Key_Down);
        QCOMPARE(chosenZid(), list[0].zid);
        CoreDataManager::shared().deleteAuthResponse(*list[0].zid);
        f->app->userDetailsList =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});

        typePin(wrongPin);
        QCOMPARE(statusLine(), chooseUserMessage);
        QVERIFY(!f->app->authDetails.get());
        const auto stored =
            CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{});
        QCOMPARE(stored.size(), size_t(1));
        QCOMPARE(stored[0].invalidAttemptCount, std::optional<qint64>(1));
    }

    // After an attempt that leaves the user on this screen the PIN starts over in its first box: however
    // the attempt was made, and also after the users check's reload has emptied the boxes once more.
    void theNextDigitStartsTheNextPin_data() {
        QTest::addColumn<QString>("attempt");
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral(
            "Invalid PIN. 3 attempts remaining before you are forced to wait 30 minutes to retry");
        QTest::newRow("wrong PIN typed") << "typed" << invalid;
        QTest::newRow("wrong PIN pasted") << "pasted" << invalid;
        QTest::newRow("wrong PIN by Return on Unlock App") << "return" << invalid;
        QTest::newRow("wrong PIN, then the users check's reload") << "reload" << invalid;
        QTest::newRow("temporary lock") << "locked"
                                        << "Your account is temporarily locked. Please retry in 30 minutes";
        QTest::newRow("no user chosen") << "nobody" << chooseUserMessage;
    }
    void theNextDigitStartsTheNextPin() {
        QFETCH(QString, attempt);
        QFETCH(QString, message);
        AuthResponse only = user("Z1", "ann@example.com", "ann@example.com", "135792");
        if (attempt == "locked")
            only.invalidAttemptCount = 3;
        f->storeUsers(attempt == "nobody" ? threeUsers() : std::vector{only});
        showScreen();

        if (attempt == "pasted") {
            QGuiApplication::clipboard()->setText(wrongPin);
            f->focus(Field::loginPassword);
            QTest::keyClick(f->keyTarget(), Qt::Key_V, Qt::ControlModifier);
        } else if (attempt == "return") {
            f->app->isLoading = true;
            typePin(wrongPin);
            f->app->isLoading = false;
            f->focus(Field::unlockApp);
            f->press(Qt::Key_Return);
        } else {
            typePin(wrongPin);
        }
        f->settle();
        if (attempt == "reload") {
            // A users-not-exist reply that names nobody still reloads the users.
            f->app->removeStoredUsers({});
            f->settle();
        }
        QVERIFY(!unlocked());
        QCOMPARE(statusLine(), message);
        QVERIFY(screen().pinValue().isEmpty());

        f->type(QStringLiteral("7"));
        f->settle();
        QCOMPARE(screen().pinValue(), QStringLiteral("7"));
        auto* boxes = f->host.findChild<OTPFieldView*>();
        QCOMPARE(boxes->box(0)->text(), QStringLiteral("7"));
        QCOMPARE(boxes->focusedBox(), std::optional(1));
        if (attempt == "reload")
            QVERIFY(!f->saveScreenshot(QStringLiteral("unlock-after-a-wrong-pin")).isEmpty());
    }

    void screenshotWithTwoUsers() {
        f->storeUsers(oneAddressTwice());
        showScreen();
        f->focus(Field::loginUsers);
        f->press(Qt::Key_Down);
        f->press(Qt::Key_Down);
        typePin(QStringLiteral("12"));
        f->focus(Field::loginUsers);
        QVERIFY(!f->saveScreenshot(QStringLiteral("unlock-two-users")).isEmpty());
    }
};

QTEST_MAIN(TestLoginView)
#include "tst_loginview.moc"
