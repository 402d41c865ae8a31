#include "ui/controls/AppFont.h"
#include "ui/controls/Artwork.h"
#include "ui/controls/ElevatedButtonStyle.h"
#include "ui/controls/ListButtonStyle.h"
#include "ui/controls/SemanticColor.h"
#include "ui/controls/TextFieldType.h"

#include <QFontInfo>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QVBoxLayout>

namespace {

// How far two colours may differ per channel after blending and rounding.
bool closeTo(const QColor& actual, const QColor& expected, int tolerance = 3) {
    return qAbs(actual.red() - expected.red()) <= tolerance &&
           qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance;
}

QColor over(const QColor& top, const QColor& bottom) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

// A button on a black stand so that pixels of translucent backgrounds can be compared.
struct ButtonOnStand {
    QWidget stand;
    QPushButton* button;
    explicit ButtonOnStand(const QString& caption) {
        stand.setStyleSheet(QStringLiteral("background: black;"));
        auto* layout = new QVBoxLayout(&stand);
        layout->setContentsMargins(0, 0, 0, 0);
        button = new QPushButton(caption, &stand);
        layout->addWidget(button);
    }
    QColor pixel(QPoint at) { return stand.grab().toImage().pixelColor(button->mapTo(&stand, at)); }
};

} // namespace

class LookTest : public QObject {
    Q_OBJECT

private slots:
    void everyAssetNameHasAColour_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"mainBg", "tabBgBlack", "primaryYellow", "Yellow", "DarkGray", "LightGray",
                                 "BlueGray", "BlueGreyLite", "PureWhite", "PureBlack", "Blue", "BlueLite",
                                 "BlueGray0.6"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void everyAssetNameHasAColour() {
        QFETCH(QString, name);
        QVERIFY(namedColor(name).isValid());
    }

    void nearMissesOfNamesHaveNoColour_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("Gray for Grey") << QStringLiteral("BlueGrayLite");
        QTest::newRow("Grey for Gray") << QStringLiteral("BlueGrey");
        QTest::newRow("lower case") << QStringLiteral("yellow");
        QTest::newRow("empty") << QString();
    }
    void nearMissesOfNamesHaveNoColour() {
        QFETCH(QString, name);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No colour named")));
        QVERIFY(!namedColor(name).isValid());
    }

    void semanticColorCases_data() {
        QTest::addColumn<int>("semantic");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("darkGray") << int(SemanticColor::darkGray) << namedColor(QStringLiteral("DarkGray"));
        QTest::newRow("yellow") << int(SemanticColor::yellow) << namedColor(QStringLiteral("Yellow"));
        QTest::newRow("bluegray") << int(SemanticColor::bluegray) << namedColor(QStringLiteral("BlueGray"));
        QTest::newRow("bluegrayLite") << int(SemanticColor::bluegrayLite)
                                      << namedColor(QStringLiteral("BlueGreyLite"));
        QTest::newRow("black") << int(SemanticColor::black) << namedColor(QStringLiteral("PureBlack"));
        QTest::newRow("white") << int(SemanticColor::white) << namedColor(QStringLiteral("PureWhite"));
        QTest::newRow("lightGray") << int(SemanticColor::lightGray) << namedColor(QStringLiteral("LightGray"));
        QTest::newRow("clear") << int(SemanticColor::clear) << QColor(Qt::transparent);
        QTest::newRow("red") << int(SemanticColor::red) << QColor(Qt::red);
        QTest::newRow("rose") << int(SemanticColor::rose) << QColor::fromRgbF(0.965f, 0.361f, 0.361f, 0.5f);
        QTest::newRow("blue") << int(SemanticColor::blue) << namedColor(QStringLiteral("Blue"));
        QTest::newRow("blueLite") << int(SemanticColor::blueLite) << namedColor(QStringLiteral("BlueLite"));
        QTest::newRow("blueGrayTransparent") << int(SemanticColor::blueGrayTransparent)
                                             << namedColor(QStringLiteral("BlueGray0.6"));
    }
    void semanticColorCases() {
        QFETCH(int, semantic);
        QFETCH(QColor, expected);
        QCOMPARE(color(SemanticColor(semantic)).rgba(), expected.rgba());
    }

    void everySemanticCaseHasItsOwnColour() {
        QSet<QRgb> seen;
        for (int i = 0; i < semanticColorCount; ++i)
            seen.insert(color(SemanticColor(i)).rgba());
        QCOMPARE(seen.size(), semanticColorCount);
    }

    void fontFaces_data() {
        QTest::addColumn<int>("face");
        QTest::addColumn<qreal>("points");
        QTest::addColumn<int>("weight");
        QTest::addColumn<int>("pixels");
        QTest::newRow("regular 13") << int(FontFace::regular) << 13.0 << int(QFont::Normal) << 13;
        QTest::newRow("medium 16.5") << int(FontFace::medium) << 16.5 << int(QFont::Medium) << 17;
        QTest::newRow("bold 20") << int(FontFace::bold) << 20.0 << int(QFont::Bold) << 20;
    }
    void fontFaces() {
        QFETCH(int, face);
        QFETCH(qreal, points);
        QFETCH(int, weight);
        QFETCH(int, pixels);
        QVERIFY(loadAppFonts());
        const QFont font = appFont(FontFace(face), points);
        const QFontInfo info(font);
        QCOMPARE(info.family(), QStringLiteral("Inter"));
        QCOMPARE(int(info.weight()), weight);
        QCOMPARE(info.pixelSize(), pixels);
    }

    void fontFaceNames() {
        QCOMPARE(fontFaceName(FontFace::regular), QStringLiteral("Switzer-Regular"));
        QCOMPARE(fontFaceName(FontFace::medium), QStringLiteral("Switzer-Medium"));
        QCOMPARE(fontFaceName(FontFace::bold), QStringLiteral("Switzer-Bold"));
    }

    void everyImageNameDraws_data() {
        QTest::addColumn<QString>("name");
        for (const char* name : {"logoHeader", "Login-Icon", "tabUserCreate", "help", "RemoveDevice", "logout",
                                 "downloadCloud", "errorClose", "boxChecked", "box", "staroflife.fill",
                                 "info.circle", "eye.fill", "eye.slash.fill", "checkmark.circle.fill",
                                 "exclamationmark.triangle.fill"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void everyImageNameDraws() {
        QFETCH(QString, name);
        QVERIFY(hasArtwork(name));
        const QImage image = artwork(name, QSize(64, 64)).toImage();
        QVERIFY(!image.isNull());
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 128;
        QVERIFY2(opaque > 10, qPrintable(name));
    }

    void aTintedSymbolTakesTheTint() {
        const QColor green(Qt::green);
        const QImage image = artwork(QStringLiteral("checkmark.circle.fill"), QSize(40, 40), green).toImage();
        // The ring is tinted, the check itself is cut out of the disc.
        QCOMPARE(image.pixelColor(20, 3).rgb(), green.rgb());
        QCOMPARE(image.pixelColor(17, 26).alpha(), 0);
    }

    void unknownImageNames() {
        QVERIFY(!hasArtwork(QStringLiteral("eye")));
        QVERIFY(artwork(QStringLiteral("eye"), QSize(20, 20)).isNull());
    }

    void textFieldTypeFromRaw_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("expected"); // -1: no case
        QTest::newRow("Create PIN") << QStringLiteral("Create PIN") << int(TextFieldType::createPin);
        QTest::newRow("Confirm PIN") << QStringLiteral("Confirm PIN") << int(TextFieldType::confirmPin);
        QTest::newRow("Activation Code") << QStringLiteral("Activation Code") << int(TextFieldType::activationCode);
        QTest::newRow("Enter PIN") << QStringLiteral("Enter PIN") << int(TextFieldType::enterPin);
        QTest::newRow("Enter Code") << QStringLiteral("Enter Code") << int(TextFieldType::enterCode);
        QTest::newRow("lower case") << QStringLiteral("create pin") << -1;
        QTest::newRow("trailing blank") << QStringLiteral("Enter PIN ") << -1;
        QTest::newRow("case name") << QStringLiteral("enterCode") << -1;
        QTest::newRow("empty") << QString() << -1;
    }
    void textFieldTypeFromRaw() {
        QFETCH(QString, raw);
        QFETCH(int, expected);
        const auto type = TextFieldType::fromRaw(raw);
        if (expected < 0) {
            QVERIFY(!type);
            return;
        }
        QVERIFY(type);
        QCOMPARE(int(type->value()), expected);
        QCOMPARE(type->rawValue(), raw);
    }

    void aPressedListRowFillsItsWidth_data() {
        QTest::addColumn<int>("x");
        QTest::newRow("left edge beside the label") << 3;
        QTest::newRow("right edge beside the label") << ListButtonStyle::width - 4;
    }
    void aPressedListRowFillsItsWidth() {
        QFETCH(int, x);
        ButtonOnStand row(QStringLiteral("ORG1"));
        const ListButtonStyle style{Qt::white, namedColor(QStringLiteral("BlueGray")), namedColor(QStringLiteral("Yellow"))};
        style.apply(*row.button);
        row.stand.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row.stand));
        QCOMPARE(row.button->width(), ListButtonStyle::width);
        int clicks = 0;
        connect(row.button, &QPushButton::clicked, this, [&clicks] { ++clicks; });

        const QPoint at(x, row.button->height() / 2);
        QTest::mousePress(row.button, Qt::LeftButton, {}, at);
        QVERIFY(row.button->isDown());
        QVERIFY(closeTo(row.pixel(QPoint(x, 1)), style.pressedColor));
        QTest::mouseRelease(row.button, Qt::LeftButton, {}, at);
        QCOMPARE(clicks, 1);
        QVERIFY(closeTo(row.pixel(QPoint(x, 1)), style.backgroundColor));
        QCOMPARE(row.button->focusPolicy(), Qt::NoFocus);
    }

    void aPressedElevatedButtonOnlyDims() {
        ButtonOnStand stand(QStringLiteral("Unlock App"));
        const ElevatedButtonStyle style{namedColor(QStringLiteral("PureBlack"))};
        style.apply(*stand.button);
        stand.stand.show();
        QVERIFY(QTest::qWaitForWindowExposed(&stand.stand));
        const QSize released = stand.button->size();
        QCOMPARE(released.width(), ElevatedButtonStyle::width);
        const QColor yellow = namedColor(QStringLiteral("Yellow"));
        QVERIFY(closeTo(stand.pixel(QPoint(2, 2)), yellow));

        QTest::mousePress(stand.button, Qt::LeftButton, {}, QPoint(4, 4));
        QColor dimmed = yellow;
        dimmed.setAlphaF(0.9f);
        QVERIFY(closeTo(stand.pixel(QPoint(2, 2)), over(dimmed, Qt::black)));
        QCOMPARE(stand.button->size(), released);
        QTest::mouseRelease(stand.button, Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(closeTo(stand.pixel(QPoint(2, 2)), yellow));
    }
};

QTEST_MAIN(LookTest)
#include "tst_look.moc"
