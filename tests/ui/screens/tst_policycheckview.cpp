#include "ui/screens/PolicyCheckView.h"

#include "app/AppViewModel.h"
#include "support/ManualClock.h"
#include "ui/controls/KeyDispatcher.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>
#include <QUrl>

Q_DECLARE_METATYPE(Field)
Q_DECLARE_METATYPE(std::optional<Field>)

// Stands in for the default browser.
class LinkRecorder : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

class TestPolicyCheckView : public QObject {
    Q_OBJECT

private:
    ManualClock m_clock;
    std::unique_ptr<AppViewModel> m_app;
    LinkRecorder m_links;

    void focus(std::optional<Field> field) {
        m_app->setFocusedField(field);
        QTRY_COMPARE(m_app->focusedFieldPublisher.get(), field);
    }

    // The row in a shown window, or none when the window did not show.
    PolicyCheckView* showRow(rx::Published<bool>& isChecked, QWidget& window) {
        auto* row = new PolicyCheckView(isChecked, *m_app, &window);
        window.show();
        return QTest::qWaitForWindowExposed(&window) ? row : nullptr;
    }

    void pressReturn(QWidget& row) { QTest::keyClick(&row, Qt::Key_Return); }

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_links, "open"); }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void init() {
        m_app = std::make_unique<AppViewModel>(nullptr, m_clock);
        m_app->setTestMode(true);
        m_links.opened.clear();
    }

    void returnActsOnTheFocusedControl_data() {
        QTest::addColumn<std::optional<Field>>("focused");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QList<QUrl>>("opened");

        QTest::newRow("check box") << std::optional(Field::agreeTerms) << true << QList<QUrl>{};
        QTest::newRow("terms") << std::optional(Field::termsLink) << false
                               << QList<QUrl>{QUrl("https://www.quorvale.com/terms-of-service/")};
        QTest::newRow("privacy") << std::optional(Field::privacyLink) << false
                                 << QList<QUrl>{QUrl("https://www.quorvale.com/privacy-policy/")};
        QTest::newRow("field of the screen")
            << std::optional(Field::regSubmitButton) << false << QList<QUrl>{};
        QTest::newRow("nothing focused") << std::optional<Field>() << false << QList<QUrl>{};
    }

    void returnActsOnTheFocusedControl() {
        QFETCH(std::optional<Field>, focused);
        QFETCH(bool, checked);
        QFETCH(QList<QUrl>, opened);

        rx::Published<bool> isChecked(false);
        QWidget window;
        PolicyCheckView* row = showRow(isChecked, window);
        QVERIFY(row);
        focus(focused);
        pressReturn(*row);
        QCOMPARE(isChecked.get(), checked);
        QCOMPARE(m_links.opened, opened);
    }

    void returnIsPassedOn_data() {
        QTest::addColumn<Field>("focused");
        QTest::newRow("check box") << Field::agreeTerms;
        QTest::newRow("terms") << Field::termsLink;
        QTest::newRow("privacy") << Field::privacyLink;
    }

    // The row acts on Return and still hands it on, so the screen and the tab bar see it too.
    void returnIsPassedOn() {
        QFETCH(Field, focused);
        int reachedLaterHandler = 0;
        // Registered before the row, so it is asked after it.
        KeyDispatcher::Registration later = KeyDispatcher::instance().add([&](QKeyEvent& event) {
            reachedLaterHandler += isReturnKey(event);
            return false;
        });
        rx::Published<bool> isChecked(false);
        QWidget window;
        PolicyCheckView* row = showRow(isChecked, window);
        QVERIFY(row);
        focus(focused);
        pressReturn(*row);
        QCOMPARE(reachedLaterHandler, 1);
        QCOMPARE(int(isChecked.get()) + int(m_links.opened.size()), 1);
    }

    // While a request is out the window takes no Return; the consent stays as it was.
    void busyWindowIgnoresReturn() {
        rx::Published<bool> isChecked(false);
        QWidget window;
        PolicyCheckView* row = showRow(isChecked, window);
        QVERIFY(row);
        focus(Field::agreeTerms);
        m_app->isLoading = true;
        pressReturn(*row);
        QVERIFY(!isChecked.get());
        m_app->isLoading = false;
        pressReturn(*row);
        QVERIFY(isChecked.get());
    }

    void clickAndReturnToggleAlike() {
        rx::Published<bool> isChecked(false);
        QWidget window;
        PolicyCheckView* row = showRow(isChecked, window);
        QVERIFY(row);
        auto* box = row->findChild<QPushButton*>(QStringLiteral("agreeTerms"));
        QVERIFY(box);
        const QImage unchecked = box->icon().pixmap(18, 18).toImage();
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(isChecked.get());
        QVERIFY(box->icon().pixmap(18, 18).toImage() != unchecked);
        focus(Field::agreeTerms);
        pressReturn(*row);
        QVERIFY(!isChecked.get());
        QCOMPARE(box->icon().pixmap(18, 18).toImage(), unchecked);
    }

    void linkClickOpensItsPage() {
        rx::Published<bool> isChecked(false);
        QWidget window;
        PolicyCheckView* row = showRow(isChecked, window);
        QVERIFY(row);
        QTest::mouseClick(row->findChild<QPushButton*>(QStringLiteral("privacyLink")), Qt::LeftButton);
        QCOMPARE(m_links.opened, QList<QUrl>{QUrl("https://www.quorvale.com/privacy-policy/")});
    }

    void shownAgainOpensOnce() {
        rx::Published<bool> isChecked(false);
        QWidget window;
        PolicyCheckView* row = showRow(isChecked, window);
        QVERIFY(row);
        row->hide();
        row->show();
        row->hide();
        row->show();
        focus(Field::termsLink);
        pressReturn(*row);
        QCOMPARE(m_links.opened.size(), 1);
    }

    void invalidAddressOpensNothing_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << "";
        QTest::newRow("no scheme") << "terms-of-service";
        QTest::newRow("blank inside") << "https://www.quorvale .com/x";
    }

    void invalidAddressOpensNothing() {
        QFETCH(QString, address);
        PolicyCheckView::openLink(address);
        QVERIFY(m_links.opened.isEmpty());
    }

    void focusFrameFollowsThePublishedField() {
        rx::Published<bool> isChecked(false);
        QWidget window;
        PolicyCheckView* row = showRow(isChecked, window);
        QVERIFY(row);
        const auto frameShown = [row](const char* name) {
            auto* control = row->findChild<QWidget*>(QLatin1String(name));
            auto* frame = control->findChild<QWidget*>(QStringLiteral("focusFrame"));
            return frame && frame->isVisible();
        };
        focus(Field::termsLink);
        QVERIFY(frameShown("termsLink"));
        QVERIFY(!frameShown("agreeTerms"));
        QVERIFY(!frameShown("privacyLink"));
        focus(Field::authCode);
        QVERIFY(!frameShown("termsLink"));
    }
};

QTEST_MAIN(TestPolicyCheckView)
#include "tst_policycheckview.moc"
