#include "OtpFormFieldView.h"

#include "AppFont.h"
#include "Artwork.h"
#include "InfoTooltipButton.h"
#include "OTPFieldView.h"
#include "RequiredMark.h"
#include "SemanticColor.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

constexpr int eyeSide = 20;

} // namespace

const QString OtpFormFieldView::pinRulesTooltip =
    QStringLiteral("MUST have atleast 3 unique numbers (ex. 112233) \n"
                   "Should NOT have 3 or more sequential numbers (ex. 123123) \n"
                   "Should NOT have 3 or more consecutive identical numbers (ex. 111222)");

OtpFormFieldView::OtpFormFieldView(TextFieldType textFieldType, bool isSecure, QWidget* parent)
    : QWidget(parent)
    , m_textFieldType(textFieldType)
    , m_isSecure(isSecure)
    , m_content(new QWidget(this)) {
    setFixedSize(frameSize);
    m_content->setObjectName(QStringLiteral("content"));
    auto* column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 0, 0, paddingBelow);
    column->setSpacing(4);

    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(new RequiredMark(m_content), 0, Qt::AlignVCenter);
    auto* title = new QLabel(textFieldType.rawValue(), m_content);
    title->setObjectName(QStringLiteral("title"));
    title->setFont(appFont(FontFace::regular, 13));
    QPalette titlePalette = title->palette();
    titlePalette.setColor(QPalette::WindowText, QColor(Qt::gray));
    title->setPalette(titlePalette);
    titleRow->addWidget(title);

    const TextFieldType::Case kind = textFieldType.value();
    if (kind == TextFieldType::createPin) {
        m_infoButton = new InfoTooltipButton(pinRulesTooltip, appFont(FontFace::regular, 11), m_content);
        titleRow->addWidget(m_infoButton);
    }
    titleRow->addStretch();
    if (kind == TextFieldType::createPin || kind == TextFieldType::confirmPin || kind == TextFieldType::enterPin) {
        m_eyeToggle = new QPushButton(m_content);
        m_eyeToggle->setObjectName(QStringLiteral("eyeToggle"));
        m_eyeToggle->setFixedSize(eyeSide, eyeSide);
        m_eyeToggle->setIconSize(QSize(eyeSide, eyeSide));
        m_eyeToggle->setFlat(true);
        m_eyeToggle->setFocusPolicy(Qt::NoFocus);
        m_eyeToggle->setCursor(Qt::PointingHandCursor);
        m_eyeToggle->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; }"));
        connect(m_eyeToggle, &QPushButton::clicked, this, [this] { setSecure(!m_isSecure); });
        titleRow->addWidget(m_eyeToggle);
    }
    column->addLayout(titleRow);

    m_codeBoxes = new OTPFieldView(numberOfFields, isSecure, m_content);
    connect(m_codeBoxes, &OTPFieldView::otpChanged, this, &OtpFormFieldView::otpValueChanged);
    column->addWidget(m_codeBoxes);
    setFocusProxy(m_codeBoxes);
    setSecure(isSecure);
    placeContent();
}

void OtpFormFieldView::placeContent() {
    const int contentHeight = m_content->sizeHint().height();
    m_content->setGeometry(0, (height() - contentHeight) / 2, width(), contentHeight);
}

void OtpFormFieldView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeContent();
}

QString OtpFormFieldView::otpValue() const {
    return m_codeBoxes->otp();
}

void OtpFormFieldView::setOtpValue(const QString& otpValue) {
    m_codeBoxes->setOtp(otpValue);
}

void OtpFormFieldView::setOnValueChange(std::function<void(const QString&, int)> onValueChange) {
    m_codeBoxes->setOnValueChange(std::move(onValueChange));
}

void OtpFormFieldView::setOnTap(std::function<void()> onTap) {
    m_codeBoxes->setOnTap(std::move(onTap));
}

bool OtpFormFieldView::showTooltip() const {
    return m_infoButton && m_infoButton->showTooltip();
}

void OtpFormFieldView::setSecure(bool isSecure) {
    m_isSecure = isSecure;
    m_codeBoxes->setSecure(isSecure);
    if (m_eyeToggle) {
        const QString symbol = isSecure ? QStringLiteral("eye.slash.fill") : QStringLiteral("eye.fill");
        m_eyeToggle->setAccessibleName(symbol);
        m_eyeToggle->setIcon(artworkIcon(symbol, QSize(eyeSide, eyeSide), namedColor(QStringLiteral("DarkGray"))));
    }
}

void OtpFormFieldView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous() && m_textFieldType == TextFieldType(TextFieldType::activationCode))
        setSecure(false);
}
