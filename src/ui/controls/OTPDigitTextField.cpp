#include "OTPDigitTextField.h"

#include "AppFont.h"
#include "SemanticColor.h"

#include <QLineEdit>
#include <QPainter>
#include <QVBoxLayout>

namespace {

constexpr int fieldBottomPadding = 8;
constexpr int underlineHeight = 1;

} // namespace

OTPDigitTextField::OTPDigitTextField(QWidget* parent)
    : QWidget(parent)
    , m_field(new QLineEdit(this)) {
    m_field->setFrame(false);
    m_field->setFont(appFont(FontFace::medium, 12));
    QPalette palette = m_field->palette();
    palette.setColor(QPalette::Text, color(SemanticColor::white));
    palette.setColor(QPalette::Base, color(SemanticColor::clear));
    palette.setColor(QPalette::Highlight, color(SemanticColor::white));
    palette.setColor(QPalette::HighlightedText, color(SemanticColor::black));
    m_field->setPalette(palette);
    m_field->setAttribute(Qt::WA_MacShowFocusRect, false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, underlineHeight);
    layout->setSpacing(0);
    layout->addWidget(m_field);
    layout->addSpacing(fieldBottomPadding);

    connect(m_field, &QLineEdit::textEdited, this, &OTPDigitTextField::textEdited);
}

QString OTPDigitTextField::text() const {
    return m_field->text();
}

void OTPDigitTextField::setText(const QString& text) {
    if (m_field->text() != text)
        m_field->setText(text);
}

void OTPDigitTextField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(QRect(0, height() - underlineHeight, width(), underlineHeight), QColor(Qt::gray));
}
