#include "ScreenFixture.h"

#include "flows/RemoveUserViewModel.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/screens/RemoveUserView.h"

#include <QPushButton>

namespace {

const QJsonObject success{{"errorCode", 0}, {"resultCode", 0}};
const QString route = QStringLiteral("device/manage");

} // namespace

class TestRemoveUser : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AuthResponse m_user;
    QString m_pem;
    std::unique_ptr<ScreenFixture> f;

    void showScreen() {
        f->show(new RemoveUserView(*f->app,
                                   std::make_unique<RemoveUserViewModel>(*f->app, f->repository.get())));
    }

    bool userStored() {
        return !CoreDataManager::shared().readAuthResponses().value_or(std::vector<AuthResponse>{}).empty();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        ScreenFixture::setUpProcess(m_dir, std::make_shared<MemoryKeyStore>());
        m_user = ScreenFixture::enrolledUser();
    }

    void init() {
        // A removal takes the device key with it; each test starts enrolled afresh.
        m_pem = ScreenFixture::deviceKeyPem(m_user);
        QVERIFY(!m_pem.isEmpty());
        f = std::make_unique<ScreenFixture>();
        f->signIn(m_user, m_pem);
        f->app->currentTab = TabType::removeUser;
    }

    void cleanup() {
        for (const auto& check : f->checks.checks())
            QVERIFY(check.verified);
        f.reset();
    }

    void theFocusStartsOnYes() {
        showScreen();
        QCOMPARE(f->app->focusedFieldPublisher.get(), Field::removeYes);
        QVERIFY(!f->saveScreenshot(QStringLiteral("remove-user-dialog")).isEmpty());
    }

    void yesAndCancelByClickAndByReturn_data() {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<bool>("byReturn");
        QTest::addColumn<std::optional<Field>>("focusAfter");
        QTest::newRow("Yes clicked") << true << false << std::optional(Field::removeYes);
        QTest::newRow("Yes by Return") << true << true << std::optional(Field::unfocus);
        QTest::newRow("Cancel clicked") << false << false << std::optional(Field::removeNo);
        QTest::newRow("Cancel by Return") << false << true << std::optional(Field::authCode);
    }
    void yesAndCancelByClickAndByReturn() {
        QFETCH(bool, yes);
        QFETCH(bool, byReturn);
        QFETCH(std::optional<Field>, focusAfter);
        f->reply(route, success);
        showScreen();
        const Field button = yes ? Field::removeYes : Field::removeNo;
        // A click leaves the focus where it was, so it is put on the button first either way.
        f->focus(button);
        if (byReturn)
            f->press(Qt::Key_Return);
        else
            QTest::mouseClick(f->child<QPushButton>(button), Qt::LeftButton);
        f->settle();
        if (yes) {
            QTRY_COMPARE(f->bodies(route).size(), 1);
            QTRY_VERIFY(!userStored());
            QCOMPARE(f->bodies(route).first().value("action").toString(), QStringLiteral("remove"));
            QVERIFY(!f->app->isSignedIn());
        } else {
            QCOMPARE(f->app->currentTab.get(), TabType::homeScreen);
            QVERIFY(f->bodies(route).isEmpty());
            QVERIFY(userStored());
        }
        QCOMPARE(f->app->focusedFieldPublisher.get(), focusAfter);
    }

    void aSecondYesWhileTheRemovalIsOutSendsNothing_data() {
        QTest::addColumn<bool>("byReturn");
        QTest::newRow("Return") << true;
        QTest::newRow("click") << false;
    }
    void aSecondYesWhileTheRemovalIsOutSendsNothing() {
        QFETCH(bool, byReturn);
        f->service.setReply(QStringLiteral("/api/v1/") + route, ScriptedReply::silence());
        showScreen();
        const auto yes = [&] {
            if (byReturn)
                f->press(Qt::Key_Return);
            else
                QTest::mouseClick(f->child<QPushButton>(Field::removeYes), Qt::LeftButton);
            f->settle();
        };
        f->focus(Field::removeYes);
        yes();
        QTRY_COMPARE(f->bodies(route).size(), 1);
        QVERIFY(f->app->isLoading.get());
        f->focus(Field::removeYes);
        yes();
        yes();
        QTest::qWait(200);
        QCOMPARE(f->bodies(route).size(), 1);
    }

    void aRefusalShowsInTheStatusLine() {
        f->reply(route, QJsonObject{{"errorCode", 1}, {"resultCode", 5}, {"errorMessage", "Not allowed here"}});
        showScreen();
        f->press(Qt::Key_Return);
        QTRY_VERIFY(!f->app->isLoading.get());
        f->settle();
        QCOMPARE(f->host.findChild<ErrorMessageView*>()->errorMessage(), QStringLiteral("Not allowed here"));
        QVERIFY(userStored());
        QVERIFY(!f->saveScreenshot(QStringLiteral("remove-user-refused")).isEmpty());
    }
};

QTEST_MAIN(TestRemoveUser)
#include "tst_removeuser.moc"
