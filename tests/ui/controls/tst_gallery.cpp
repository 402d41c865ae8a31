#include "support/WidgetTestSupport.h"
#include "ui/controls/AppFont.h"
#include "ui/controls/Artwork.h"
#include "ui/controls/ConfirmationDialogView.h"
#include "ui/controls/CustomTextField.h"
#include "ui/controls/ElevatedButtonStyle.h"
#include "ui/controls/ErrorMessageView.h"
#include "ui/controls/FocusFollower.h"
#include "ui/controls/InfoTooltipButton.h"
#include "ui/controls/ListButtonStyle.h"
#include "ui/controls/LoadingCircleBlinks.h"
#include "ui/controls/LoadingIndicator.h"
#include "ui/controls/OTPFieldView.h"
#include "ui/controls/OtpFormFieldView.h"
#include "ui/controls/SemanticColor.h"
#include "ui/controls/TooltipBubble.h"
#include "ui/controls/UnderlinedTextField.h"

#include <QApplication>
#include <QEnterEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace {

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(appFont(FontFace::bold, 12));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, namedColor(QStringLiteral("LightGray")));
    label->setPalette(palette);
    return label;
}

QWidget* imageRow(const QStringList& names, QSize size, const QColor& tint, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const QString& name : names) {
        auto* image = new QLabel(row);
        image->setPixmap(artwork(name, size, tint, 2.0));
        image->setFixedSize(size);
        image->setScaledContents(true);
        layout->addWidget(image);
    }
    layout->addStretch();
    return row;
}

QWidget* swatches(QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (int i = 0; i < semanticColorCount; ++i) {
        auto* swatch = new QWidget(row);
        swatch->setFixedSize(24, 24);
        swatch->setStyleSheet(QStringLiteral("background: %1; border: 1px solid #808080;")
                                  .arg(color(SemanticColor(i)).name(QColor::HexArgb)));
        layout->addWidget(swatch);
    }
    layout->addStretch();
    return row;
}

} // namespace

class GalleryTest : public QObject {
    Q_OBJECT

private slots:
    // Every control of the library in one dark window, as the screens will use them.
    void everyControlInOneWindow() {
        auto model = widgettest::makeAppViewModel();
        QWidget window;
        window.setObjectName(QStringLiteral("gallery"));
        widgettest::useWindowLook(window);
        auto* grid = new QGridLayout(&window);
        grid->setContentsMargins(20, 20, 20, 20);
        grid->setHorizontalSpacing(40);
        grid->setVerticalSpacing(8);

        // Left column: look, buttons, entry lines.
        int row = 0;
        grid->addWidget(imageRow({QStringLiteral("logoHeader")}, QSize(80, 32), {}, &window), row++, 0);
        grid->addWidget(caption(QStringLiteral("SemanticColor"), &window), row++, 0);
        grid->addWidget(swatches(&window), row++, 0);
        grid->addWidget(caption(QStringLiteral("Artwork"), &window), row++, 0);
        grid->addWidget(imageRow({QStringLiteral("Login-Icon"), QStringLiteral("tabUserCreate"), QStringLiteral("help"),
                                  QStringLiteral("RemoveDevice"), QStringLiteral("logout"), QStringLiteral("box"),
                                  QStringLiteral("boxChecked"), QStringLiteral("downloadCloud"),
                                  QStringLiteral("errorClose")},
                                 QSize(24, 24), {}, &window),
                        row++, 0);
        grid->addWidget(imageRow({QStringLiteral("staroflife.fill"), QStringLiteral("info.circle"),
                                  QStringLiteral("eye.fill"), QStringLiteral("eye.slash.fill"),
                                  QStringLiteral("checkmark.circle.fill"),
                                  QStringLiteral("exclamationmark.triangle.fill")},
                                 QSize(20, 20), namedColor(QStringLiteral("DarkGray")), &window),
                        row++, 0);
        grid->addWidget(caption(QStringLiteral("ElevatedButtonStyle, not ready and ready"), &window), row++, 0);
        auto* notReady = new QPushButton(QStringLiteral("Unlock App"), &window);
        ElevatedButtonStyle{namedColor(QStringLiteral("DarkGray"))}.apply(*notReady);
        grid->addWidget(notReady, row++, 0);
        auto* ready = new QPushButton(QStringLiteral("Authenticate"), &window);
        ready->setObjectName(fieldName(Field::authenticate));
        ElevatedButtonStyle{namedColor(QStringLiteral("PureBlack"))}.apply(*ready);
        FocusFollower::frame(*model, Field::authenticate, ready);
        grid->addWidget(ready, row++, 0);
        grid->addWidget(caption(QStringLiteral("ListButtonStyle, released and pressed"), &window), row++, 0);
        const ListButtonStyle listStyle{namedColor(QStringLiteral("PureWhite")), namedColor(QStringLiteral("BlueGray")),
                                        namedColor(QStringLiteral("BlueGreyLite"))};
        auto* orgRow = new QPushButton(QStringLiteral("Quorvale Demo Org"), &window);
        listStyle.apply(*orgRow);
        grid->addWidget(orgRow, row++, 0);
        auto* pressedRow = new QPushButton(QStringLiteral("Second Org"), &window);
        listStyle.apply(*pressedRow);
        pressedRow->setDown(true);
        grid->addWidget(pressedRow, row++, 0);
        auto* email = new UnderlinedTextField(QStringLiteral("Organization Email"), std::nullopt, &window);
        email->setText(QStringLiteral("ada@quorvale.example"));
        grid->addWidget(email, row++, 0);
        auto* code = new UnderlinedTextField(QStringLiteral("Enter Code"), TextFieldType::enterCode, &window);
        grid->addWidget(code, row++, 0);
        auto* status = new ErrorMessageView(&window);
        status->setMessage(QStringLiteral("Authenticated successfully"), true);
        grid->addWidget(status, row++, 0);
        auto* warning = new ErrorMessageView(&window);
        warning->setMessage(QStringLiteral("Invalid PIN. You have 2 attempts left before your account is locked "
                                           "for 30 minutes; after that it is removed from this device."));
        grid->addWidget(warning, row++, 0, 1, 2);
        grid->setRowStretch(row, 1);

        // Right column: PIN fields, busy sign, dialog; room above for the PIN rules.
        row = 3;
        auto* createPin = new OtpFormFieldView(TextFieldType::createPin, true, &window);
        createPin->setOtpValue(QStringLiteral("4821"));
        grid->addWidget(createPin, row++, 1, 2, 1);
        ++row;
        auto* enterPin = new OtpFormFieldView(TextFieldType::enterPin, false, &window);
        enterPin->setOtpValue(QStringLiteral("482913"));
        grid->addWidget(enterPin, row++, 1, 2, 1);
        ++row;
        auto* activation = new OtpFormFieldView(TextFieldType::activationCode, true, &window);
        activation->setOtpValue(QStringLiteral("77"));
        grid->addWidget(activation, row++, 1, 2, 1);
        ++row;
        auto* busy = new LoadingIndicator(LoadingIndicator::LoadingAnimation::circleBlinks,
                                          LoadingIndicator::Size::medium, LoadingIndicator::Speed::fast,
                                          namedColor(QStringLiteral("Yellow")), &window);
        grid->addWidget(busy, row, 1, 3, 1, Qt::AlignLeft);
        row += 3;
        auto* dialog = new ConfirmationDialogView(
            *model,
            {{{{QStringLiteral("This email ID is already registered."), FontFace::bold, 12},
               {QStringLiteral("Would you like to register as a new user"), FontFace::bold, 12},
               {QStringLiteral("and erase all existing user data?"), FontFace::bold, 12}}},
             QStringLiteral("Yes"),
             Field::userDeletetionYes,
             QStringLiteral("No"),
             Field::userDeletionNo,
             Field::regOrgEmail},
            [] {}, [] {}, &window);
        dialog->layout()->setContentsMargins(0, 0, 0, 0);
        grid->addWidget(dialog, row, 1, 7, 1);

        window.resize(1000, 760);
        QVERIFY(widgettest::showActive(window));
        widgettest::settle();
        // Step the ring to show its trail.
        for (int i = 0; i < 5; ++i)
            busy->circleBlinks()->tick();
        busy->circleBlinks()->fade().setCurrentTime(busy->circleBlinks()->fade().duration());
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(createPin->infoButton(), &enter);
        QVERIFY(createPin->showTooltip());

        // The dialog asked for its first button when shown.
        QCOMPARE(model->focusedFieldPublisher.get(), std::optional<Field>(Field::userDeletetionYes));

        // Nothing is cut off at the window's edges, nothing overlaps its neighbour.
        QList<QWidget*> placed;
        for (int i = 0; i < grid->count(); ++i) {
            if (QWidget* widget = grid->itemAt(i)->widget())
                placed << widget;
        }
        for (QWidget* widget : placed) {
            QVERIFY2(window.rect().contains(widget->geometry()), qPrintable(widget->metaObject()->className()));
            for (QWidget* other : placed) {
                if (other != widget)
                    QVERIFY2(!widget->geometry().intersects(other->geometry()),
                             qPrintable(QStringLiteral("%1 over %2")
                                            .arg(widget->metaObject()->className(), other->metaObject()->className())));
            }
        }

        const QString path = widgettest::saveScreenshot(window, QStringLiteral("gallery"));
        QVERIFY(!path.isEmpty());
        qInfo("Gallery saved to %s", qPrintable(path));
        const QImage shown(path);
        QCOMPARE(shown.pixelColor(2, 2), namedColor(QStringLiteral("tabBgBlack")));
        const QPoint readyCorner = ready->mapTo(&window, QPoint(3, 3)) * shown.devicePixelRatio();
        QCOMPARE(shown.pixelColor(readyCorner), namedColor(QStringLiteral("Yellow")));
    }
};

QTEST_MAIN(GalleryTest)
#include "tst_gallery.moc"
