#include "OtpTextFieldOlder.h"

#include "OTPDigitTextField.h"

#include <QHBoxLayout>

namespace {

constexpr int spacing = 15;
constexpr int fieldSide = 30;

} // namespace

OtpTextFieldOlder::OtpTextFieldOlder(QWidget* parent)
    : QWidget(parent)
    , m_otp(positionCount, QString()) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (int index = 0; index < positionCount; ++index) {
        auto* field = new OTPDigitTextField(this);
        field->setObjectName(QStringLiteral("otpDigit%1").arg(index));
        field->setFixedSize(fieldSide, fieldSide);
        layout->addWidget(field, 0, Qt::AlignVCenter);
        m_fields.push_back(field);
        connect(field, &OTPDigitTextField::textEdited, this, [this, index](const QString& text) {
            m_otp[index] = text;
            emit otpChanged(m_otp);
        });
    }
    // A wider row keeps its fields together at its leading side rather than spreading them out.
    layout->addStretch(1);
}
