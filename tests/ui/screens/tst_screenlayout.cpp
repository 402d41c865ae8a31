// The screens measured in the real window, 800 x 480, as the user sees them: each screen is brought up
// through the app state and its flow over the identity-service double, and nothing here paints or sizes
// anything. The pictures are saved under screenshots/ beside the test program.
#include "ScreenFixture.h"

#include "flows/CreateAccountViewModel.h"
#include "flows/HomeViewModel.h"
#include "flows/RemoveUserViewModel.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/FocusFrame.h"
#include "ui/controls/ListButtonStyle.h"
#include "ui/controls/OTPFieldView.h"
#include "ui/controls/OtpFormFieldView.h"
#include "ui/screens/CreateAccountView.h"
#include "ui/screens/DropDownButtonView.h"
#include "ui/screens/HomeScreenView.h"
#include "ui/screens/LoginViewView.h"
#include "ui/screens/RemoveUserView.h"
#include "ui/screens/VersionReminderView.h"
#include "window/MainTabView.h"
#include "window/MainWindow.h"

#include <QJsonArray>
#include <QLabel>
#include <QPushButton>

namespace {

// Around an organisation's name, on every edge of its row.
constexpr int organizationRowPadding = 5;

QRect geometryIn(const QWidget* widget, const QWidget* window) {
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

void save(const QImage& picture, const QString& name) {
    QDir().mkpath(QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots"));
    picture.save(QCoreApplication::applicationDirPath() +
                 QStringLiteral("/screenshots/layout-%1.png").arg(name));
}

// Lengths, sizes and points within a pixel; anything else exactly.
bool matches(const QVariant& measured, const QVariant& expected) {
    const auto near = [](int a, int b) { return qAbs(a - b) <= 1; };
    switch (expected.typeId()) {
    case QMetaType::Int:
        return near(measured.toInt(), expected.toInt());
    case QMetaType::QSize:
        return near(measured.toSize().width(), expected.toSize().width()) &&
               near(measured.toSize().height(), expected.toSize().height());
    case QMetaType::QPoint:
        return near(measured.toPoint().x(), expected.toPoint().x()) &&
               near(measured.toPoint().y(), expected.toPoint().y());
    default:
        return measured == expected;
    }
}

} // namespace

class TestScreenLayout : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    AuthResponse m_user;
    QString m_pem;
    std::unique_ptr<ScreenFixture> f;
    std::unique_ptr<MainWindow> m_window;

    QWidget* screen() const { return m_window->mainTabView().currentScreen(); }
    template <typename T = QWidget> T* find(const QString& name) const {
        return m_window->findChild<T*>(name);
    }
    template <typename T = QWidget> T* find(Field field) const { return find<T>(fieldName(field)); }

    // The visible one of the screen's status lines.
    ErrorMessageView* statusLine() const {
        for (ErrorMessageView* line : m_window->findChildren<ErrorMessageView*>())
            if (line->isVisible())
                return line;
        return nullptr;
    }

    QImage picture() {
        f->settle();
        return m_window->grab().toImage();
    }

    QColor pixel(QPoint point) {
        const QImage image = picture();
        return image.pixelColor(point * image.devicePixelRatio());
    }

    void openWindow() {
        m_window = std::make_unique<MainWindow>(*f->app, *f->repository);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        f->settle();
    }

    void waitForReply() {
        QTRY_VERIFY(!f->app->isLoading.get());
        f->settle();
    }

    HomeViewModel& homeModel() const { return qobject_cast<HomeScreenView*>(screen())->viewModel(); }

    // Brings `scene` up on the screen the user would see it on.
    void openScene(const QString& scene) {
        if (scene == "registration" || scene == "PIN stage" || scene == "register anew") {
            if (scene == "register anew")
                f->storeUsers({m_user});
            f->app->currentTab = TabType::newRegisteration;
            openWindow();
            auto* view = qobject_cast<CreateAccountView*>(screen());
            QVERIFY(view);
            if (scene == "registration")
                return;
            // An address enrolled here already brings the question up; another one the PIN stage.
            f->reply("user/registration/validate",
                     QJsonObject{{"errorCode", 0}, {"resultCode", 0}, {"orgCode", *m_user.orgCode}});
            const QString address =
                scene == "register anew" ? *m_user.email : QStringLiteral("bob@example.com");
            view->viewModel().email = address;
            f->app->isLoading = true;
            view->viewModel().validateUser(QStringLiteral("A1B2C3"), address);
            waitForReply();
            QTRY_VERIFY(find(scene == "register anew" ? Field::userDeletetionYes : Field::createPin));
        } else if (scene == "unlock") {
            AuthResponse second = FlowFixture::enrolledUser(QStringLiteral("0F0F"));
            second.zid = QStringLiteral("Z-2");
            second.suid = QStringLiteral("S-2");
            second.email = second.displayEmail = QStringLiteral("bob@example.com");
            f->storeUsers({m_user, second});
            f->app->currentTab = TabType::login;
            openWindow();
            QVERIFY(qobject_cast<LoginViewView*>(screen()));
        } else if (scene == "reminder") {
            f->app->versionInfo = VersionInfo{QStringLiteral("1.0"), QStringLiteral("<b>2.4.0</b>")};
            f->app->appConfigState = LaunchConfigurationState::normalUpdate;
            openWindow();
            QVERIFY(m_window->mainTabView().versionReminder());
        } else {
            f->signIn(m_user, m_pem);
            if (scene == "remove user")
                f->app->currentTab = TabType::removeUser;
            openWindow();
            if (scene == "remove user")
                return;
            QVERIFY(qobject_cast<HomeScreenView*>(screen()));
            if (scene == "organisations") {
                QJsonArray codes;
                for (const char* code : {"ORG1", "ORG2", "ORG3"})
                    codes.append(QJsonObject{{"orgCode", code},
                                             {"orgName", QStringLiteral("Organisation %1").arg(code)}});
                // Too long for one line of the list.
                codes[1] = QJsonObject{
                    {"orgCode", "ORG2"},
                    {"orgName", QStringLiteral("Second Organisation With A Rather Long Name That Goes On")}};
                f->reply("verify/did",
                         QJsonObject{{"errorCode", 1}, {"resultCode", 75}, {"orgCodes", codes}});
            } else {
                f->reply("verify/did", QJsonObject{{"errorCode", 0}, {"resultCode", 0}, {"ttl", 60}});
            }
            if (scene == "home")
                return;
            homeModel().codeValue = QStringLiteral("abc123");
            homeModel().verifyDid(QStringLiteral("abc123"));
            waitForReply();
            if (scene == "success") {
                f->reply("verify/validationCode",
                         QJsonObject{{"errorCode", 0}, {"resultCode", 0}, {"message", "Approved"}});
                homeModel().verifyCode(QStringLiteral("42"));
                waitForReply();
                QVERIFY(homeModel().showSucces.get());
            }
        }
        f->settle();
    }

    // A message in the status line, as the screen's flow publishes one: one line, or for `wrapped` three;
    // false when none shows.
    bool showMessage(bool wrapped) {
        if (!wrapped && statusLine() && !statusLine()->errorMessage().isEmpty())
            return true;
        const QString message =
            wrapped ? QStringLiteral(
                          "The service could not verify this code because it has expired. Ask for a new "
                          "code on the sign-in page and enter it again within the time it gives; if it "
                          "expires again, call the help desk, who can check the sign-in for you.")
                    : QStringLiteral("The code has expired");
        if (auto* unlock = qobject_cast<LoginViewView*>(screen())) {
            if (wrapped) {
                unlock->viewModel().errorMessage = message;
            } else {
                // Six digits and nobody chosen: the screen asks to choose a user.
                f->focus(Field::loginPassword);
                f->type(QStringLiteral("135792"));
            }
        } else if (auto* home = qobject_cast<HomeScreenView*>(screen())) {
            home->viewModel().errorMessage = message;
        } else if (auto* registration = qobject_cast<CreateAccountView*>(screen())) {
            registration->viewModel().errorMessage = message;
        } else if (auto* removal = qobject_cast<RemoveUserView*>(screen())) {
            removal->viewModel().errorMessage = message;
        }
        f->settle();
        const bool shown =
            QTest::qWaitFor([&] { return statusLine() && !statusLine()->errorMessage().isEmpty(); });
        picture();
        return shown;
    }

    QList<QPushButton*> organizationRows() const {
        return find(Field::orgSelection)->findChildren<QPushButton*>(QStringLiteral("organization"));
    }

    // Where each organisation row belongs in the window: its name wrapped to the row's width with the row's
    // padding around it, the rows one under the other from the first row's top.
    std::vector<QRect> expectedOrganizationRows() const {
        const QList<QPushButton*> rows = organizationRows();
        std::vector<QRect> expected;
        QPoint at = geometryIn(rows.front(), m_window.get()).topLeft();
        for (const OrgCode& entry : homeModel().orgCodes.get()) {
            const QRect text =
                QFontMetrics(rows.front()->font())
                    .boundingRect(QRect(0, 0, ListButtonStyle::width - 2 * organizationRowPadding, 1000),
                                  Qt::TextWordWrap, entry.orgName.value_or(QString()));
            expected.emplace_back(at,
                                  QSize(ListButtonStyle::width, text.height() + 2 * organizationRowPadding));
            at.ry() += expected.back().height();
        }
        return expected;
    }

    // True when the chosen row's fill covers the whole of where the row belongs.
    bool chosenRowFilled() {
        const std::vector<OrgCode>& organizations = homeModel().orgCodes.get();
        const auto chosen =
            std::find_if(organizations.begin(), organizations.end(),
                         [&](const OrgCode& entry) { return entry.orgCode == homeModel().orgCode.get(); });
        if (chosen == organizations.end())
            return false;
        const QRect area =
            expectedOrganizationRows()[size_t(chosen - organizations.begin())].adjusted(2, 2, -2, -2);
        const QImage image = picture();
        const QColor fill = namedColor(QStringLiteral("BlueGreyLite"));
        for (const QPoint corner : {area.topLeft(), area.topRight(), area.bottomLeft(), area.bottomRight()})
            if (image.pixelColor(corner * image.devicePixelRatio()) != fill)
                return false;
        return true;
    }

    // A click where the user sees `point` in the window, delivered to the control that takes it there.
    void clickAt(QPoint point) {
        QWidget* target = m_window->childAt(point);
        if (!target)
            return;
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(m_window.get(), point));
        f->settle();
    }

    // The measures, each on the scene it belongs to; a point or a length in the window's pixels.
    QVariant measure(const QString& what) {
        QWidget* window = m_window.get();
        if (what == "background") {
            // Right of every control, under the header, above the version label.
            return pixel(QPoint(770, 250));
        }
        if (what == "header background")
            return pixel(QPoint(400, 4));
        if (what == "status height, no message")
            return statusLine()->height();
        if (what == "status height, message" || what == "buttons move with a message" ||
            what == "buttons move with a long message") {
            std::vector<std::pair<QPushButton*, int>> buttons;
            for (QPushButton* button :
                 screen() ? screen()->findChildren<QPushButton*>() : QList<QPushButton*>())
                if (button->isVisible())
                    buttons.emplace_back(button, geometryIn(button, window).top());
            if (!showMessage(what == "buttons move with a long message"))
                return QVariant();
            if (what == "status height, message")
                return statusLine()->height();
            int moved = 0;
            for (const auto& [button, top] : buttons)
                moved = std::max(moved, qAbs(geometryIn(button, window).top() - top));
            return moved;
        }
        if (what == "status top padding")
            return statusLine()->messageLabel()->mapTo(statusLine(), QPoint(0, 0)).y();
        if (what == "chooser outline size" || what == "chooser outline centre") {
            f->focus(Field::loginUsers);
            auto* chooser = find<DropDownButtonView>(Field::loginUsers);
            FocusFrame* outline = nullptr;
            for (FocusFrame* frame : chooser->parentWidget()->findChildren<FocusFrame*>())
                if (frame->isVisible())
                    outline = frame;
            if (!outline)
                return QVariant();
            save(picture(), QStringLiteral("unlock-chooser-focused"));
            if (what == "chooser outline size")
                return outline->size();
            return geometryIn(outline, window).center() - geometryIn(chooser, window).center();
        }
        if (what == "PIN field padding below") {
            auto* field = find<OtpFormFieldView>(Field::loginPassword);
            auto* boxes = field->findChild<OTPFieldView*>();
            // From the boxes' bottom edge to the end of the field's stack.
            return field->childrenRect().bottom() - geometryIn(boxes, field).bottom();
        }
        if (what == "leading padding")
            return geometryIn(find(QStringLiteral("greeting")), window).left() -
                   geometryIn(screen(), window).left();
        if (what == "top padding")
            return geometryIn(find(QStringLiteral("greeting")), window).top() -
                   geometryIn(screen(), window).top();
        if (what == "title position") {
            for (QLabel* label : screen()->findChildren<QLabel*>())
                if (label->isVisible() &&
                    (label->text() == "New Registration" || label->text() == "Unlock App"))
                    return geometryIn(label, window).topLeft() - geometryIn(screen(), window).topLeft();
            return QVariant();
        }
        if (what == "list fill") {
            // Beside the name of an organisation that is not chosen.
            QPushButton* row = organizationRows().last();
            return pixel(geometryIn(row, window).topRight() + QPoint(-20, row->height() / 2));
        }
        if (what == "organisation rows misplaced by") {
            const QList<QPushButton*> rows = organizationRows();
            const std::vector<QRect> expected = expectedOrganizationRows();
            int off = 0;
            for (qsizetype i = 0; i < rows.size(); ++i) {
                const QRect seen = geometryIn(rows[i], window);
                const QRect& wanted = expected[size_t(i)];
                off = std::max({off, qAbs(seen.top() - wanted.top()), qAbs(seen.bottom() - wanted.bottom()),
                                qAbs(seen.left() - wanted.left()), qAbs(seen.right() - wanted.right())});
            }
            return off;
        }
        if (what == "long name on two lines") {
            QPushButton* row = organizationRows().at(1);
            const int textHeight = row->height() - 2 * organizationRowPadding;
            return qRound(double(textHeight) / QFontMetrics(row->font()).lineSpacing()) == 2;
        }
        if (what == "Up and Down across the long row") {
            // Each organisation chosen in turn, marked when its fill leaves part of its row bare.
            f->focus(Field::orgSelection);
            QStringList chosen;
            for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Up}) {
                f->press(key);
                f->settle();
                chosen << homeModel().orgCode.get() + (chosenRowFilled() ? "" : " bare");
                if (chosen.size() == 1)
                    save(picture(), QStringLiteral("organisations-long-name-chosen"));
            }
            return chosen.join(QStringLiteral(", "));
        }
        if (what == "clicks across the long row") {
            // Beside the long name's last line, then in the middle of the row below it.
            const std::vector<QRect> rows = expectedOrganizationRows();
            QStringList chosen;
            for (const QPoint point : {rows[1].bottomRight() - QPoint(10, 4), rows[2].center()}) {
                clickAt(point);
                chosen << homeModel().orgCode.get();
            }
            return chosen.join(QStringLiteral(", "));
        }
        if (what == "Back trailing edge") {
            return geometryIn(find(Field::homeBack), window).right() -
                   geometryIn(find(Field::authenticate), window).right();
        }
        if (what == "greeting tooltip") {
            QLabel* greeting = find<QLabel>(QStringLiteral("greeting"));
            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
            QCoreApplication::sendEvent(greeting, &enter);
            QLabel* bubble = nullptr;
            for (QLabel* label : window->findChildren<QLabel*>(QStringLiteral("tooltip")))
                if (label->isVisible())
                    bubble = label;
            if (!bubble)
                return QVariant();
            save(picture(), QStringLiteral("home-greeting-tooltip"));
            const QRect tip = geometryIn(bubble, window);
            const QRect anchor = geometryIn(greeting, window);
            // On the top side: standing on the greeting, centred over it.
            return QPoint(tip.center().x() - anchor.center().x(), anchor.top() - tip.bottom() - 1);
        }
        if (what == "second-code boxes padding") {
            // Beyond the screen's 40 points on the leading edge.
            return geometryIn(find(Field::twoFactor), window).left() - geometryIn(screen(), window).left() -
                   40;
        }
        if (what == "tab frame gap") {
            // The focus frame is what changes when the tab takes the focus; the tab's own drawing is what
            // differs from the header's colour without it.
            QWidget* tab = find(Field::regTab);
            const QRect area = geometryIn(tab, window).adjusted(-5, -5, 5, 5);
            f->focus(Field::unfocus);
            const QImage plain = picture();
            f->focus(Field::regTab);
            const QImage framed = picture();
            save(framed, QStringLiteral("tab-focus-frame"));
            const qreal ratio = plain.devicePixelRatio();
            const QColor header = namedColor(QStringLiteral("tabBgBlack"));
            QRect frame, content;
            for (int y = area.top(); y <= area.bottom(); ++y) {
                for (int x = area.left(); x <= area.right(); ++x) {
                    const QPoint at = QPoint(x, y) * ratio;
                    if (framed.pixel(at) != plain.pixel(at))
                        frame |= QRect(x, y, 1, 1);
                    else if (plain.pixelColor(at) != header)
                        content |= QRect(x, y, 1, 1);
                }
            }
            if (frame.isEmpty() || content.isEmpty())
                return QVariant();
            // The free pixels between the frame's line and the tab's icon, title and underline.
            return std::min({content.left() - frame.left() - 1, frame.right() - content.right() - 1,
                             content.top() - frame.top() - 1, frame.bottom() - content.bottom() - 1});
        }
        if (what == "latest version text") {
            auto* label = find<QLabel>(QStringLiteral("latestVersion"));
            // The angle brackets take room only when the text is not read as markup.
            return label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text());
        }
        return QVariant();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        ScreenFixture::setUpProcess(m_dir, std::make_shared<MemoryKeyStore>());
        m_user = ScreenFixture::enrolledUser();
        m_pem = ScreenFixture::deviceKeyPem(m_user);
        QVERIFY(!m_pem.isEmpty());
    }

    void init() { f = std::make_unique<ScreenFixture>(); }

    void cleanup() {
        m_window.reset();
        f.reset();
    }

    void eachScreenAsDrawn_data() {
        QTest::addColumn<QString>("scene");
        QTest::addColumn<QString>("what");
        QTest::addColumn<QVariant>("expected");
        const QColor mainBg = namedColor(QStringLiteral("mainBg"));
        const QColor tabBg = namedColor(QStringLiteral("tabBgBlack"));
        const auto row = [](const char* scene, const char* what, const QVariant& expected) {
            QTest::addRow("%s: %s", scene, what)
                << QString::fromLatin1(scene) << QString::fromLatin1(what) << expected;
        };
        for (const char* scene : {"registration", "PIN stage", "register anew", "unlock", "home",
                                  "organisations", "second code", "success", "remove user"}) {
            row(scene, "background", mainBg);
            row(scene, "header background", tabBg);
        }
        row("reminder", "background", tabBg);
        for (const char* scene :
             {"registration", "PIN stage", "register anew", "unlock", "home", "second code", "remove user"})
            row(scene, "status height, no message", ErrorMessageView::emptyHeight);
        for (const char* scene : {"registration", "PIN stage", "register anew", "unlock", "home",
                                  "organisations", "second code", "remove user"})
            row(scene, "buttons move with a message", 0);
        // The dialogs stand centred, as their layout has it: a message of several lines lifts them by half of
        // what it takes beyond the blank line.
        for (const char* scene : {"registration", "unlock", "home"})
            row(scene, "buttons move with a long message", 0);
        for (const char* scene :
             {"registration", "register anew", "unlock", "home", "success", "remove user"})
            row(scene, "status height, message", ErrorMessageView::emptyHeight);
        row("unlock", "status top padding", 10);
        row("unlock", "chooser outline size", QSize(312, 35));
        row("unlock", "chooser outline centre", QPoint(0, 0));
        row("unlock", "PIN field padding below", 10);
        row("organisations", "list fill", namedColor(QStringLiteral("BlueGray")));
        // A name too long for one line wraps, and its row grows to hold it.
        row("organisations", "long name on two lines", true);
        row("organisations", "organisation rows misplaced by", 0);
        row("organisations", "Up and Down across the long row", QStringLiteral("ORG2, ORG3, ORG2, ORG1"));
        row("organisations", "clicks across the long row", QStringLiteral("ORG2, ORG3"));
        row("organisations", "Back trailing edge", 0);
        row("organisations", "leading padding", 40);
        row("organisations", "top padding", 0);
        row("home", "leading padding", 40);
        row("home", "top padding", 0);
        row("home", "greeting tooltip", QPoint(0, 0));
        row("second code", "second-code boxes padding", 16);
        row("reminder", "latest version text", true);
        row("registration", "tab frame gap", 3);
        // Every form starts where the others do: the toolkit's default padding, 20 more on the leading edge.
        for (const char* scene : {"registration", "PIN stage", "unlock"})
            row(scene, "title position", QPoint(36, 16));
    }

    void eachScreenAsDrawn() {
        QFETCH(QString, scene);
        QFETCH(QString, what);
        QFETCH(QVariant, expected);
        openScene(scene);
        if (QTest::currentTestFailed())
            return;
        save(picture(), QString(scene).replace(QLatin1Char(' '), QLatin1Char('-')));

        const QVariant measured = measure(what);
        QString seen;
        if (measured.typeId() == QMetaType::QColor)
            seen = measured.value<QColor>().name();
        else
            QDebug(&seen) << measured;
        // The value stands in the log, for comparing before and after a change of the look.
        qInfo("%s", qPrintable(seen));
        QVERIFY2(measured.isValid(), "nothing to measure");
        QVERIFY2(matches(measured, expected), qPrintable(seen));
    }
};

QTEST_MAIN(TestScreenLayout)
#include "tst_screenlayout.moc"
