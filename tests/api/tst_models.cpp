#include "api/AuthResponse.h"
#include "api/CommonResponse.h"
#include "api/ConfirmModel.h"

#include <QTest>

class TestModels : public QObject {
    Q_OBJECT

private slots:
    void emptyObjectDecodesToEmptyValue() {
        QCOMPARE(coding::decode<AuthResponse>(QByteArray("{}")), AuthResponse{});
        QCOMPARE(coding::decode<CommonResponse>(QByteArray("{}")), CommonResponse{});
        QCOMPARE(coding::decode<AlertModel>(QByteArray("{}")), AlertModel{});
        QCOMPARE(coding::decode<ConfirmModel>(QByteArray("{}")), ConfirmModel{});
    }
};

QTEST_GUILESS_MAIN(TestModels)
#include "tst_models.moc"
