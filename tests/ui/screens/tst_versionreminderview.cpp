// The update screen in both variants: the version lines, the one button of the optional reminder, and that
// nothing but that button leaves it.
#include "ui/screens/VersionReminderView.h"

#include "app/AppViewModel.h"
#include "support/WidgetTestSupport.h"
#include "ui/controls/SemanticColor.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

Q_DECLARE_METATYPE(std::optional<LaunchConfigurationState>)
Q_DECLARE_METATYPE(std::optional<VersionInfo>)

namespace {

QStringList shownTexts(const QWidget& page) {
    QStringList texts;
    for (const QLabel* label : page.findChildren<QLabel*>())
        if (label->isVisibleTo(&page) && !label->text().isEmpty())
            texts.append(label->text());
    return texts;
}

} // namespace

class VersionReminderViewTest : public QObject {
    Q_OBJECT

private slots:
    void variantAndVersionLines_data() {
        QTest::addColumn<std::optional<LaunchConfigurationState>>("state");
        QTest::addColumn<std::optional<VersionInfo>>("versionInfo");
        QTest::addColumn<bool>("reminder");
        QTest::addColumn<QStringList>("texts");
        const VersionInfo both{QStringLiteral("1.2.0"), QStringLiteral("2.4.0")};
        const QStringList reminderTexts{QStringLiteral("QuorvaleID v2.4.0"),
                                        QStringLiteral("Latest version available!"),
                                        QStringLiteral("Contact your admin to get the update")};
        const QStringList noticeTexts{QStringLiteral("This version of the app is no longer supported."),
                                      QStringLiteral("Please update to the minimum required version"),
                                      QStringLiteral("(QuorvaleID v1.2.0)"),
                                      QStringLiteral("to ensure uninterrupted usage and"),
                                      QStringLiteral("access to new features.")};
        QTest::newRow("optional update") << std::optional(LaunchConfigurationState::normalUpdate)
                                         << std::optional(both) << true << reminderTexts;
        QTest::newRow("forced upgrade") << std::optional(LaunchConfigurationState::forceUpgrade)
                                        << std::optional(both) << false << noticeTexts;
        // Every state but the optional update is the notice.
        QTest::newRow("loading shows the notice") << std::optional(LaunchConfigurationState::loading)
                                                  << std::optional(both) << false << noticeTexts;
        QTest::newRow("absent shows the notice")
            << std::optional<LaunchConfigurationState>() << std::optional(both) << false << noticeTexts;
        QStringList bareReminder = reminderTexts;
        bareReminder[0] = QStringLiteral("QuorvaleID v");
        QStringList bareNotice = noticeTexts;
        bareNotice[2] = QStringLiteral("(QuorvaleID v)");
        QTest::newRow("reminder without versions") << std::optional(LaunchConfigurationState::normalUpdate)
                                                   << std::optional<VersionInfo>() << true << bareReminder;
        QTest::newRow("notice without versions") << std::optional(LaunchConfigurationState::forceUpgrade)
                                                 << std::optional<VersionInfo>() << false << bareNotice;
        QTest::newRow("notice without a minimum")
            << std::optional(LaunchConfigurationState::forceUpgrade)
            << std::optional(VersionInfo{std::nullopt, QStringLiteral("2.4.0")}) << false << bareNotice;
        QStringList oddReminder = reminderTexts;
        oddReminder[0] = QStringLiteral("QuorvaleID v%1 beta");
        QTest::newRow("version text put in unchanged")
            << std::optional(LaunchConfigurationState::normalUpdate)
            << std::optional(VersionInfo{std::nullopt, QStringLiteral("%1 beta")}) << true << oddReminder;
    }
    void variantAndVersionLines() {
        QFETCH(std::optional<LaunchConfigurationState>, state);
        QFETCH(std::optional<VersionInfo>, versionInfo);
        QFETCH(bool, reminder);
        QFETCH(QStringList, texts);
        auto app = widgettest::makeAppViewModel();
        app->versionInfo = versionInfo;
        app->appConfigState = state;
        VersionReminderView view(*app);
        // The window's background, which the reminder has behind it.
        widgettest::useWindowLook(view);
        view.resize(800, 480);
        view.show();

        QCOMPARE(view.showsReminder(), reminder);
        const QWidget* page = view.findChild<QWidget*>(reminder ? QStringLiteral("updateReminder")
                                                                : QStringLiteral("upgradeNotice"));
        QVERIFY(page && page->isVisible());
        QCOMPARE(shownTexts(*page), texts);
        auto* button = view.findChild<QPushButton*>(QStringLiteral("remindMeLater"));
        QCOMPARE(button->isVisible(), reminder);
        QCOMPARE(page->findChildren<QPushButton*>().size(), reminder ? 1 : 0);
        QVERIFY(
            view.findChild<QLabel*>(reminder ? QStringLiteral("downloadCloud") : QStringLiteral("errorClose"))
                ->isVisible());
        if (texts.first().endsWith(QStringLiteral("2.4.0")) || texts.at(2).contains(QStringLiteral("1.2.0")))
            QVERIFY(!widgettest::saveScreenshot(
                         view, QStringLiteral("versionreminder-") +
                                   QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-'))
                         .isEmpty());
    }

    void versionLinesFollowTheAppState() {
        auto app = widgettest::makeAppViewModel();
        app->appConfigState = LaunchConfigurationState::normalUpdate;
        VersionReminderView view(*app);
        auto* latest = view.findChild<QLabel*>(QStringLiteral("latestVersion"));
        QCOMPARE(latest->text(), QStringLiteral("QuorvaleID v"));
        app->versionInfo = VersionInfo{QStringLiteral("1.0"), QStringLiteral("3.1.4")};
        QCOMPARE(latest->text(), QStringLiteral("QuorvaleID v3.1.4"));
        app->appConfigState = LaunchConfigurationState::forceUpgrade;
        QVERIFY(!view.showsReminder());
        QCOMPARE(view.findChild<QLabel*>(QStringLiteral("minimumVersion"))->text(),
                 QStringLiteral("(QuorvaleID v1.0)"));
    }

    void remindMeLaterOnlyReturnsToLoading() {
        auto app = widgettest::makeAppViewModel();
        app->versionInfo = VersionInfo{QStringLiteral("1.0"), QStringLiteral("2.0")};
        app->appConfigState = LaunchConfigurationState::normalUpdate;
        app->currentTab = TabType::newRegisteration;
        VersionReminderView view(*app);
        view.show();
        QList<std::optional<LaunchConfigurationState>> states;
        auto token = app->appConfigState.sink(
            [&](const std::optional<LaunchConfigurationState>& state) { states.append(state); });
        states.clear();

        QTest::mouseClick(view.findChild<QPushButton*>(QStringLiteral("remindMeLater")), Qt::LeftButton);
        widgettest::settle();

        QCOMPARE(states, (QList<std::optional<LaunchConfigurationState>>{LaunchConfigurationState::loading}));
        QCOMPARE(app->versionInfo.get(),
                 std::optional(VersionInfo{QStringLiteral("1.0"), QStringLiteral("2.0")}));
        QCOMPARE(app->currentTab.get(), TabType::newRegisteration);
        QCOMPARE(app->focusedFieldPublisher.get(), std::optional<Field>());
    }

    void returnDoesNothing_data() {
        QTest::addColumn<LaunchConfigurationState>("state");
        QTest::newRow("reminder") << LaunchConfigurationState::normalUpdate;
        QTest::newRow("notice") << LaunchConfigurationState::forceUpgrade;
    }
    void returnDoesNothing() {
        QFETCH(LaunchConfigurationState, state);
        auto app = widgettest::makeAppViewModel();
        app->appConfigState = state;
        VersionReminderView view(*app);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTest::keyClick(&view, Qt::Key_Return);
        QTest::keyClick(&view, Qt::Key_Space);
        widgettest::settle();
        QCOMPARE(app->appConfigState.get(), std::optional(state));
    }
};

QTEST_MAIN(VersionReminderViewTest)
#include "tst_versionreminderview.moc"
