#include "app/Clock.h"
#include "app/Field.h"
#include "app/PolicyLimits.h"
#include "app/TabModel.h"
#include "app/VersionCheck.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<qint64>)
Q_DECLARE_METATYPE(std::optional<LaunchConfigurationState>)

class PolicyTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { policy::resetToDefaults(); }

    void parseInteger_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<qint64>>("expected");
        QTest::newRow("plain") << "7" << std::optional<qint64>(7);
        QTest::newRow("plus sign") << "+7" << std::optional<qint64>(7);
        QTest::newRow("minus one") << "-1" << std::optional<qint64>(-1);
        QTest::newRow("leading zeros") << "007" << std::optional<qint64>(7);
        QTest::newRow("letters") << "abc" << std::optional<qint64>();
        QTest::newRow("digits then letters") << "5min" << std::optional<qint64>();
        QTest::newRow("empty") << "" << std::optional<qint64>();
        QTest::newRow("sign alone") << "-" << std::optional<qint64>();
        QTest::newRow("two signs") << "+-3" << std::optional<qint64>();
        QTest::newRow("leading blank") << " 3" << std::optional<qint64>();
        QTest::newRow("trailing blank") << "3 " << std::optional<qint64>();
        QTest::newRow("fraction") << "2.5" << std::optional<qint64>();
        QTest::newRow("arabic-indic digit") << QString(QChar(0x0663)) << std::optional<qint64>();
        QTest::newRow("largest") << "9223372036854775807" << std::optional<qint64>(9223372036854775807LL);
        QTest::newRow("one past largest") << "9223372036854775808" << std::optional<qint64>();
        QTest::newRow("smallest") << "-9223372036854775808"
                                  << std::optional<qint64>(std::numeric_limits<qint64>::min());
        QTest::newRow("one past smallest") << "-9223372036854775809" << std::optional<qint64>();
        QTest::newRow("far too long") << "123456789012345678901234567890" << std::optional<qint64>();
    }
    void parseInteger() {
        QFETCH(QString, text);
        QFETCH(std::optional<qint64>, expected);
        QCOMPARE(policy::parseInteger(text), expected);
    }

    void absentPolicyKeepsDefaults() {
        policy::applyPolicyTexts({QStringLiteral("9"), QStringLiteral("9"), QStringLiteral("9"),
                                  QStringLiteral("9"), QStringLiteral("9"), QStringLiteral("9")});
        policy::applyPolicyTexts({});
        QCOMPARE(policy::maxLoginAttempts, 3);
        QCOMPARE(policy::maxRemoveAccountLoginAttempts, 5);
        QCOMPARE(policy::desktopForceLogout, 2);
        QCOMPARE(policy::lockoutDurationMinutes, 30);
        QCOMPARE(policy::desktopIdleSession, 2);
        QCOMPARE(policy::desktopUserInActivityThreshold, 30);
    }

    // Each value falls back on its own: one bad text must not drag the others to their defaults.
    void valuesFallBackOneByOne() {
        policy::PolicyTexts texts;
        texts.maxLoginAttempts = QStringLiteral("abc");
        texts.maxRemoveAccountLoginAttempts = QStringLiteral("+7");
        texts.desktopForceLogout = QString();
        texts.lockoutDurationMinutes = QStringLiteral("-1");
        texts.desktopIdleSession = QStringLiteral("5");
        policy::applyPolicyTexts(texts);
        QCOMPARE(policy::maxLoginAttempts, 3);
        QCOMPARE(policy::maxRemoveAccountLoginAttempts, 7);
        QCOMPARE(policy::desktopForceLogout, 2);
        QCOMPARE(policy::lockoutDurationMinutes, -1);
        QCOMPARE(policy::desktopIdleSession, 5);
        QCOMPARE(policy::desktopUserInActivityThreshold, 30);
    }

    void compareVersions_data() {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::addColumn<int>("expected");
        QTest::newRow("patch by value") << "1.2.10"
                                        << "1.2.9" << 1;
        QTest::newRow("minor by value") << "1.10.0"
                                        << "1.9.2" << 1;
        QTest::newRow("major beats long minor") << "2.0"
                                                << "1.99" << 1;
        QTest::newRow("equal") << "1.2.9"
                               << "1.2.9" << 0;
        QTest::newRow("leading zeros do not count") << "1.02"
                                                    << "1.2" << 0;
        QTest::newRow("longer is above") << "1.2.0"
                                         << "1.2" << 1;
        QTest::newRow("empty below version") << ""
                                             << "0" << -1;
        QTest::newRow("both empty") << ""
                                    << "" << 0;
        QTest::newRow("numbers beyond 64 bits") << "1.99999999999999999999"
                                                << "1.99999999999999999998" << 1;
        QTest::newRow("suffix by character") << "1.2b"
                                             << "1.2a" << 1;
        QTest::newRow("lower") << "1.2.8"
                               << "1.2.9" << -1;
    }
    void compareVersions() {
        QFETCH(QString, left);
        QFETCH(QString, right);
        QFETCH(int, expected);
        QCOMPARE(versioncheck::compare(left, right), expected);
        QCOMPARE(versioncheck::compare(right, left), -expected);
    }

    void gatedEnvironments_data() {
        QTest::addColumn<QString>("environment");
        QTest::addColumn<bool>("gated");
        for (const char* name :
             {"Release(Production)", "Release(UAT)", "Debug(Development)", "Debug(QA)", "Debug(UAT)"})
            QTest::newRow(name) << QString::fromLatin1(name) << true;
        for (const char* name : {"Debug(Production)", "Release(Development)", "Release(QA)", "Debug(Demo)",
                                 "Release(Demo)", "debug(qa)"})
            QTest::newRow(name) << QString::fromLatin1(name) << false;
    }
    void gatedEnvironments() {
        QFETCH(QString, environment);
        QFETCH(bool, gated);
        QCOMPARE(versioncheck::isGatedEnvironment(environment), gated);
    }

    void updateDecision_data() {
        QTest::addColumn<QString>("latest");
        QTest::addColumn<QString>("min");
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("gated");
        QTest::addColumn<std::optional<LaunchConfigurationState>>("expected");
        const auto none = std::optional<LaunchConfigurationState>();
        QTest::newRow("newer latest")
            << "1.2.10"
            << "1.0"
            << "1.2.9" << true << std::optional(LaunchConfigurationState::normalUpdate);
        QTest::newRow("min above running")
            << "1.2.10"
            << "1.2.10"
            << "1.2.9" << true << std::optional(LaunchConfigurationState::forceUpgrade);
        QTest::newRow("not gated") << "1.2.10"
                                   << "1.2.10"
                                   << "1.2.9" << false << none;
        QTest::newRow("latest equals running") << "1.2.9"
                                               << "9.0"
                                               << "1.2.9" << true << none;
        QTest::newRow("no latest") << ""
                                   << "9.0"
                                   << "1.2.9" << true << none;
        QTest::newRow("no running version")
            << "1.0"
            << ""
            << "" << true << std::optional(LaunchConfigurationState::normalUpdate);
    }
    void updateDecision() {
        QFETCH(QString, latest);
        QFETCH(QString, min);
        QFETCH(QString, running);
        QFETCH(bool, gated);
        QFETCH(std::optional<LaunchConfigurationState>, expected);
        QCOMPARE(versioncheck::decide(latest, min, running, gated), expected);
    }

    void systemClockFiresOnceUnlessCancelled() {
        using namespace std::chrono_literals;
        QObject context;
        int fired = 0;
        int cancelledFired = 0;
        auto call = Clock::system().scheduleOnce(20ms, &context, [&] { ++fired; });
        auto cancelled = Clock::system().scheduleOnce(20ms, &context, [&] { ++cancelledFired; });
        auto overdue = Clock::system().scheduleOnce(-5s, &context, [&] { ++fired; });
        cancelled.reset();
        QVERIFY(call->isPending());
        QTRY_COMPARE(fired, 2);
        QVERIFY(!call->isPending());
        QTest::qWait(50);
        QCOMPARE(fired, 2);
        QCOMPARE(cancelledFired, 0);
    }

    void fieldNamesRoundTrip() {
        for (int i = 0; i < fieldCount; ++i) {
            const auto field = static_cast<Field>(i);
            QCOMPARE(fieldFromName(fieldName(field)), std::optional(field));
        }
        QCOMPARE(fieldCount, 37);
        QCOMPARE(fieldName(Field::userDeletetionYes), QStringLiteral("userDeletetionYes"));
        QCOMPARE(fieldFromName(QStringLiteral("LoginTab")), std::optional<Field>());
    }
};

QTEST_GUILESS_MAIN(PolicyTest)
#include "tst_policy.moc"
