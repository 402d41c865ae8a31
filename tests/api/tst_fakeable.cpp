#include "api/Fakeable.h"

#include <QTest>

// Containers of a type whose placeholder is not of that type have none.
static_assert(!HasFake<std::vector<FakeError>>);
static_assert(!HasFake<std::map<QString, FakeError>>);
static_assert(!HasFake<std::map<FakeError, QString>>);
static_assert(!HasFake<std::vector<std::vector<FakeError>>>);
static_assert(!HasFake<std::vector<int>>);
static_assert(HasFake<std::map<qint64, std::vector<std::map<QString, bool>>>>);

class TestFakeable : public QObject {
    Q_OBJECT

private slots:
    void scalars() {
        QCOMPARE(Fakeable<double>::fake(), 0.1);
        QCOMPARE(Fakeable<QString>::fake(), QStringLiteral("test"));
        QCOMPARE(Fakeable<qint64>::fake(), qint64(0));
        QCOMPARE(Fakeable<qsizetype>::fake(), qsizetype(0));
        QVERIFY(Fakeable<QByteArray>::fake().isEmpty());
        QCOMPARE(Fakeable<bool>::fake(), true);
        QCOMPARE(Fakeable<QDateTime>::fake().toSecsSinceEpoch(), qint64(1514799000));
        QCOMPARE(Fakeable<QDateTime>::fake(), Fakeable<QDateTime>::fake());
    }

    void containersHoldOneElementMadeFromTheirElementsPlaceholders() {
        QCOMPARE(Fakeable<std::vector<QString>>::fake(), std::vector<QString>{QStringLiteral("test")});
        QCOMPARE((Fakeable<std::map<qint64, double>>::fake()), (std::map<qint64, double>{{0, 0.1}}));
        QCOMPARE(Fakeable<std::vector<std::vector<qint64>>>::fake(),
                 std::vector<std::vector<qint64>>{std::vector<qint64>{0}});
        const auto nested = Fakeable<std::map<QString, std::vector<bool>>>::fake();
        QCOMPARE(nested.size(), size_t(1));
        QCOMPARE(nested.at(QStringLiteral("test")), std::vector<bool>{true});
    }

    void fakeErrorIsAGenericErrorObject() {
        try {
            std::rethrow_exception(Fakeable<FakeError>::fake());
        } catch (const DomainError& error) {
            QCOMPARE(error.domain(), QStringLiteral("test"));
            QCOMPARE(error.code(), qint64(-1));
            return;
        }
        QFAIL("not a domain error");
    }
};

QTEST_GUILESS_MAIN(TestFakeable)
#include "tst_fakeable.moc"
